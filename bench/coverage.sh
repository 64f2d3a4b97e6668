#!/usr/bin/env bash
# Line coverage of the product code (tests/, bench/ and build directories left out) by the whole
# ctest suite, on a Debug build with --coverage in BUILD_DIR (default build-cov), on a private X
# display. Prints gcovr's table; the last line is the total.   usage: bench/coverage.sh [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
root="$CORVANE_ROOT"
build="$(realpath -m "${1:-$root/build-cov}")"
configure_and_build "$build" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_BENCH=OFF \
    -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
    -DCMAKE_SHARED_LINKER_FLAGS=--coverage
work="$(mktemp -d)"
trap 'kill ${private_display_pid:-} 2>/dev/null || true; rm -rf "$work"' EXIT
start_private_display "$work"
unset WAYLAND_DISPLAY PULSE_SERVER
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" >"$work/ctest.log" 2>&1 ||
    { tail -40 "$work/ctest.log"; exit 1; }
gcovr -r "$root" --object-directory "$build" -e "$root/tests/" -e "$root/bench/" -e "$build/" \
    --exclude-unreachable-branches 2>/dev/null
