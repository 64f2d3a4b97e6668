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
xvfb_log="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$xvfb_log" 2>&1 3>"$xvfb_log.fd" &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; rm -f "$xvfb_log" "$xvfb_log.fd"' EXIT
for _ in $(seq 100); do
    [ -s "$xvfb_log.fd" ] && break
    sleep 0.1
done
display_number="$(head -n1 "$xvfb_log.fd" 2>/dev/null || true)"
if [ -z "$display_number" ]; then
    echo "Xvfb did not start:" >&2
    cat "$xvfb_log" >&2
    exit 1
fi
export DISPLAY=":$display_number"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY PULSE_SERVER

ctest --test-dir "$CORVANE_ROOT/build" --output-on-failure -j "$jobs"
