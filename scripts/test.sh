#!/usr/bin/env bash
# Installs what the tests need, builds with -Werror, and runs every test through ctest:
# first the signal core, recording devices and tools under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan/), then the whole project (build/) on a private virtual X display.
# The audio tests start their own private PulseAudio servers with a virtual recording source.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages "${CORVANE_BUILD_PACKAGES[@]}" "${CORVANE_TEST_PACKAGES[@]}"

jobs="$(nproc)"

echo "== Signal core, recording devices and tools under ASan + UBSan"
configure_and_build "$CORVANE_ROOT/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_WERROR=ON -DCORVANE_SANITIZE=ON -DCORVANE_CORE_ONLY=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$CORVANE_ROOT/build-asan" --output-on-failure -j "$jobs"

echo "== Whole project"
configure_and_build "$CORVANE_ROOT/build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON

# A private X server, so widget and focus tests never touch the user's desktop.
xvfb_dir="$(mktemp -d)"
trap 'kill ${private_display_pid:-} 2>/dev/null || true; rm -rf "$xvfb_dir"' EXIT
start_private_display "$xvfb_dir"
unset WAYLAND_DISPLAY PULSE_SERVER

ctest --test-dir "$CORVANE_ROOT/build" --output-on-failure -j "$jobs"
