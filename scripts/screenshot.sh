#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window, on a private virtual display, playing the demo
# signal. Needs a build (./scripts/run.sh or ./scripts/test.sh first) and imagemagick.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages xvfb xauth imagemagick x11-utils

bin="${CORVANE_BUILD:-$CORVANE_ROOT/build}/bin"
work="$(mktemp -d)"
cleanup() {
    [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "${private_display_pid:-}" ] && kill "$private_display_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start_private_display "$work" 800x600x24

"$bin/corvane-testcard" -o "$work/demo.wav"
"$bin/corvane" --input "$work/demo.wav" --loop >"$work/corvane.log" 2>&1 &
app_pid=$!

# The first mapped top-level window captioned "Corvane" (Qt also makes unmapped helper windows).
window=""
for _ in $(seq 100); do
    for id in $(xwininfo -root -tree 2>/dev/null | awk '/"Corvane"/ {print $1}'); do
        if xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable"; then
            window="$id"
            break
        fi
    done
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "The window did not appear" >&2; cat "$work/corvane.log" >&2; exit 1; }
sleep "${SCREENSHOT_DELAY:-3}" # let a few frames of the demo signal arrive
mkdir -p "$CORVANE_ROOT/docs"
import -window "$window" "$CORVANE_ROOT/docs/screenshot.png"
echo "Wrote $CORVANE_ROOT/docs/screenshot.png"
