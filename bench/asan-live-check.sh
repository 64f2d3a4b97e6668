#!/usr/bin/env bash
# Runs a sanitizer build of the program against a private PulseAudio source on a virtual
# display, feeds it three seconds of test card, ends it with SIGTERM and prints what
# LeakSanitizer and AddressSanitizer reported. Not run by ctest (it needs an ASan build):
#   cmake -S . -B build-asan-gui -DCORVANE_SANITIZE=ON -DCORVANE_BENCH=OFF
#   cmake --build build-asan-gui --target corvane corvane-testcard
#   bench/asan-live-check.sh build-asan-gui/bin
set -euo pipefail
bin="$(cd "${1:?usage: $0 BIN_DIR_OF_AN_ASAN_BUILD}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../scripts/common.sh"
work="$(mktemp -d)"
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
    [ -n "${pa:-}" ] && kill "$pa" 2>/dev/null || true
    [ -n "${private_display_pid:-}" ] && kill "$private_display_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_private_display "$work"

export XDG_RUNTIME_DIR="$work" PULSE_RUNTIME_PATH="$work" PULSE_STATE_PATH="$work" HOME="$work"
export PULSE_SERVER="unix:$work/native" PULSE_COOKIE="$work/cookie"
pulseaudio --daemonize=no --exit-idle-time=-1 --system=false -n \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$work/native" \
    -L module-null-sink -L module-always-sink \
    -L "module-pipe-source source_name=tvin file=$work/fifo format=u8 rate=28800 channels=1" \
    >"$work/pulse.log" 2>&1 &
pa=$!
for _ in $(seq 100); do pactl list short sources 2>/dev/null | grep -q tvin && break; sleep 0.1; done
pactl list short sources >"$work/sources.log" 2>&1 || true
pactl set-default-source tvin || { cat "$work/sources.log" "$work/pulse.log"; exit 1; }
exec 3<>"$work/fifo" # the source made it; keep it open so the source never sees an end
"$bin/corvane-testcard" --seconds 3 -o "$work/card.u8"

LSAN_OPTIONS="suppressions=$here/lsan.supp" ASAN_OPTIONS=detect_leaks=1 \
    "$bin/corvane" >"$work/corvane.log" 2>&1 &
app=$!
for _ in $(seq 100); do pactl list short source-outputs | grep -q . && break; sleep 0.1; done
for i in $(seq 0 29); do # 0.1 s of signal every 0.1 s
    dd if="$work/card.u8" bs=2880 skip="$i" count=1 status=none >&3
    sleep 0.1
done
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=""
echo "corvane exit status: $status"
cat "$work/corvane.log"
[ "$status" -eq 0 ]
