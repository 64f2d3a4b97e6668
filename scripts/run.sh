#!/usr/bin/env bash
# Installs what Corvane needs, builds it (Release, in build/) and runs it.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages "${CORVANE_BUILD_PACKAGES[@]}" "${CORVANE_RUN_PACKAGES[@]}"
configure_and_build "$CORVANE_ROOT/build" -DCMAKE_BUILD_TYPE=Release

bin="$CORVANE_ROOT/build/bin"
demo_dir="${XDG_CACHE_HOME:-$HOME/.cache}/corvane"
mkdir -p "$demo_dir"

headless_demo() {
    "$bin/corvane-testcard" -o "$demo_dir/demo.wav"
    "$bin/corvane-decode" -o "$demo_dir/demo.png" "$demo_dir/demo.wav"
    echo "No display: decoded the demo signal $demo_dir/demo.wav headlessly."
    echo "The picture was written to $demo_dir/demo.png"
}

# A display we can really reach: a stale DISPLAY would make the window fail at start.
have_display() {
    [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
    [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1
}

if ! have_display || [ ! -x "$bin/corvane" ]; then
    headless_demo
    exit 0
fi

# Read the whole list first: a pipe into `grep -q` could end the program early with SIGPIPE,
# which pipefail would take for "no devices".
devices="$("$bin/corvane" --list-devices 2>/dev/null || true)"
if [ -n "$devices" ]; then
    exec "$bin/corvane" "$@"
fi
"$bin/corvane-testcard" -o "$demo_dir/demo.wav"
echo "No recording device found: showing the generated demo signal instead ($demo_dir/demo.wav)."
exec "$bin/corvane" --input "$demo_dir/demo.wav" --loop "$@"
