#!/usr/bin/env bash
# Makes the Debian package corvane_<version>_amd64.deb from the Release build in build/ (built
# first, or brought up to date) and puts it in OUTDIR (default: the current folder).
# Usage: scripts/package.sh [OUTDIR]
set -euo pipefail
source "$(dirname "$0")/common.sh"

out="$(realpath -m "${1:-.}")"
mkdir -p "$out"
ensure_packages "${CORVANE_BUILD_PACKAGES[@]}" "${CORVANE_PACKAGE_PACKAGES[@]}"

build="$CORVANE_ROOT/build"
cmake -S "$CORVANE_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
    --target corvane corvane-decode corvane-testcard corvane_designer manuals changelog
# Only what the package holds: the tests and benchmarks stay out of it.
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/corvane_*_amd64.deb
