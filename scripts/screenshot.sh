#!/usr/bin/env bash
# Makes docs/screenshot.png: the main window, on a private virtual display, playing the demo
# signal. With --monitor, makes docs/monitor.png instead: the Monitor window locked to an NBTVA
# transmission of the test picture; --scope the same with its scope open (docs/monitor-scope.png);
# --sdr the Monitor on an SDR's IQ recording of an AM transmission beside two plain carriers
# (docs/monitor-sdr.png). Needs a build (./scripts/run.sh or ./scripts/test.sh first)
# and imagemagick.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages xvfb xauth imagemagick x11-utils

mode=main
case "${1:-}" in
"") ;;
--monitor) mode=monitor ;;
--scope) mode=scope ;;
--sdr) mode=sdr ;;
*) echo "usage: $0 [--monitor|--scope|--sdr]" >&2; exit 2 ;;
esac

bin="${CORVANE_BUILD:-$CORVANE_ROOT/build}/bin"
work="$(mktemp -d)"
cleanup() {
    [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "${private_display_pid:-}" ] && kill "$private_display_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Room for the Monitor beside the main window.
screen=800x600x24
[ "$mode" != main ] && screen=1280x1024x24
start_private_display "$work" "$screen"
# A settings folder of its own: the windows start as a new user sees them.
export XDG_CONFIG_HOME="$work/config"

if [ "$mode" = monitor ] || [ "$mode" = scope ]; then
    "$bin/corvane-testcard" --standard nbtva --seconds 10 --level 0.5 --ac-coupling 20 \
        -o "$work/demo.wav"
    output="$CORVANE_ROOT/docs/monitor.png"
    if [ "$mode" = scope ]; then
        mkdir -p "$XDG_CONFIG_HOME/corvane"
        printf '[Monitor]\nscope=true\ngeometry=\n' >"$XDG_CONFIG_HOME/corvane/corvane.conf"
        output="$CORVANE_ROOT/docs/monitor-scope.png"
    fi
    "$bin/corvane" --input "$work/demo.wav" --loop --monitor >"$work/corvane.log" 2>&1 &
    title="Corvane Monitor"
elif [ "$mode" = sdr ]; then
    "$bin/corvane-testcard" -o "$work/demo.wav"
    "$bin/corvane-testcard" --standard nbtva --seconds 20 --iq cu8 --iq-rate 250000 \
        --carrier-offset 40000 --snr 25 -o "$work/band.cu8"
    "$bin/corvane" --input "$work/demo.wav" --loop --source "$work/band.cu8" \
        --sample-rate 250000 --frequency 27200000 >"$work/corvane.log" 2>&1 &
    title="Corvane Monitor"
    output="$CORVANE_ROOT/docs/monitor-sdr.png"
else
    "$bin/corvane-testcard" -o "$work/demo.wav"
    "$bin/corvane" --input "$work/demo.wav" --loop >"$work/corvane.log" 2>&1 &
    title="Corvane"
    output="$CORVANE_ROOT/docs/screenshot.png"
fi
app_pid=$!

# The first mapped top-level window with that caption (Qt also makes unmapped helper windows;
# the window system may add the application's name to a caption).
window=""
for _ in $(seq 100); do
    for id in $(xwininfo -root -tree 2>/dev/null |
        awk -v t="\"$title\"" -v u="\"$title " 'index($0, t) || index($0, u) {print $1}'); do
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
import -window "$window" "$output"
echo "Wrote $output"
