#!/usr/bin/env bash
# Live figures of the real program: a private PulseAudio server with a virtual recording source,
# a private Xvfb, corvane recording from the source and a test card fed into it in real time
# (1024 bytes every 35.6 ms against the clock). Prints the program's CPU per second of audio, the
# delay from a sample's write to its decoding and to the screen, buffers lost or doubled, and
# resident memory at the start and end of the feed.
#
#   bench/live-figures.sh [--seconds N] [--idle-seconds N] [--chunk BYTES] [--build DIR]
#                         [--card FILE] [--no-trace] [--floor] [--monitor] [--timer-source]
#                         [--keep]
#
# --no-trace runs the program without its timing trace (CPU and memory only, as shipped).
# --floor then feeds the same audio to parec asking for 10 ms fragments, as the program does: the
# CPU a bare libpulse client pays for that fragment size on this machine.
# --chunk sets the size of each timed write (default 1024, one buffer every 35.6 ms); 256 writes
# the audio as a sound card's small fragments would deliver it, so a buffer's first sample waits
# for the buffer to fill. --card feeds a raw 8-bit recording instead of a fresh test card.
# --monitor opens the Monitor window too, so its decoding and painting are in the figures.
# --timer-source records the monitor of a null sink that pacat plays the feed into: the sink's
# timer, not the writes, paces delivery, as a sound card's does (the delays then include pacat's
# 10 ms of playback latency).
# DIR is a Release build holding bin/corvane, bin/corvane-testcard and bin/corvane-live-feeder
# (default: build, as ./scripts/run.sh makes it). --keep leaves the working directory (trace, logs) in place.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=60
idle_seconds=10
chunk=1024
trace=1
floor=0
monitor=0
timer_source=0
build=""
card=""
keep=0
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --idle-seconds) idle_seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        --card) card=$2; shift 2 ;;
        --chunk) chunk=$2; shift 2 ;;
        --no-trace) trace=0; shift ;;
        --floor) floor=1; shift ;;
        --monitor) monitor=1; shift ;;
        --timer-source) timer_source=1; shift ;;
        --keep) keep=1; shift ;;
        -h|--help) sed -n '2,26p' "$0"; exit 0 ;;
        *) echo "live-figures.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ -n "$build" ] || build="$root/build"
bin=$build/bin
tools="corvane corvane-live-feeder"
[ -n "$card" ] || tools="$tools corvane-testcard"
for tool in $tools; do
    if [ ! -x "$bin/$tool" ]; then
        echo "live-figures.sh: $bin/$tool is missing; build it first, e.g." >&2
        echo "  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release &&" \
             "cmake --build build --target corvane corvane-testcard corvane-live-feeder" >&2
        exit 2
    fi
done
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null ||
    echo "live-figures.sh: warning: $build is not a Release build" >&2

work=$(mktemp -d /tmp/corvane-live-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ "$keep" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

wait_for() { # seconds, command...
    local limit=$(( $1 * 10 )); shift
    for _ in $(seq "$limit"); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}

source "$root/scripts/common.sh"
start_private_display "$work"
pids+=("$private_display_pid")

# The private audio server, as tests/support/PrivatePulse does it.
mkdir -p "$work/home" "$work/runtime" "$work/state"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
export PULSE_RUNTIME_PATH="$work/runtime/pulse" PULSE_STATE_PATH="$work/state"
export PULSE_COOKIE="$work/cookie" PULSE_SERVER="unix:$work/native"
cat >"$work/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/native
load-module module-null-sink
load-module module-always-sink
load-module module-pipe-source source_name=tvin file=$work/source.fifo format=u8 rate=28800 channels=1
load-module module-null-sink sink_name=tvcard format=u8 rate=28800 channels=1
PA
source=tvin
[ "$timer_source" = 1 ] && source=tvcard.monitor
echo "set-default-source $source" >>"$work/server.pa"
pulseaudio -n --daemonize=no --system=false --exit-idle-time=-1 --use-pid-file=no \
    --log-target=stderr -F "$work/server.pa" >"$work/pulse.log" 2>&1 &
pulse_pid=$!
pids+=($pulse_pid)
default_is_ours() { [ "$(pactl get-default-source 2>/dev/null)" = "$source" ]; }
wait_for 20 default_is_ours || { echo "PulseAudio did not start:" >&2; cat "$work/pulse.log" >&2; exit 1; }

if [ -n "$card" ]; then
    cp "$card" "$work/card.u8"
else
    "$bin/corvane-testcard" --seconds "$seconds" -o "$work/card.u8"
fi
# Whole 1024-byte buffers, so every byte fed is decoded while the program runs.
truncate -s "$(( seconds * 28800 / 1024 * 1024 ))" "$work/card.u8"

args=()
[ "$monitor" = 1 ] && args+=(--monitor)
if [ "$trace" = 1 ]; then
    CORVANE_TRACE="$work/trace.txt" "$bin/corvane" "${args[@]}" >"$work/corvane.log" 2>&1 &
else
    "$bin/corvane" "${args[@]}" >"$work/corvane.log" 2>&1 &
fi
program=$!
pids+=($program)
recording() { [ -n "$(pactl list short source-outputs 2>/dev/null)" ]; }
window_up() {
    xwininfo -root -tree | grep -q '"Corvane":.* 510x305+' &&
        { [ "$monitor" = 0 ] || xwininfo -root -tree | grep -q '"Corvane Monitor'; }
}
wait_for 20 recording && wait_for 20 window_up ||
    { echo "corvane did not come up:" >&2; cat "$work/corvane.log" >&2; exit 1; }

ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
now() { awk '{ print $1 }' /proc/uptime; }
server_ticks0=$(ticks "$pulse_pid")

# The floor: the window up and recording, nothing arriving.
sleep 1
i0=$(ticks "$program"); w0=$(now)
sleep "$idle_seconds"
i1=$(ticks "$program"); w1=$(now)
echo "$i0 $i1 $(awk -v a="$w0" -v b="$w1" 'BEGIN { print b - a }')" >"$work/idle.txt"

# Where the feeder writes: the pipe source's FIFO, or one a player empties into the null sink.
start_feed_target() {
    fifo="$work/source.fifo"
    [ "$timer_source" = 1 ] || return 0
    fifo="$work/play.fifo"
    rm -f "$fifo" && mkfifo "$fifo"
    pacat --playback --raw --format=u8 --rate=28800 --channels=1 --latency-msec=10 -d tvcard \
        <"$fifo" >/dev/null 2>&1 &
    pids+=($!)
}

start_feed_target
echo "feeding $seconds s of audio in real time, $chunk bytes a write ..." 
server_ticks1=$(ticks "$pulse_pid"); x_ticks1=$(ticks "$private_display_pid")
program_ticks1=$(ticks "$program"); sw0=$(now)
"$bin/corvane-live-feeder" --input "$work/card.u8" --fifo "$fifo" \
    --log "$work/feed.txt" --pid "$program" --chunk "$chunk" &
feeder=$!
pids+=($feeder)
# Where the program's time goes, by thread, over the middle of the feed.
sleep 1
threads() {
    for stat in /proc/"$program"/task/*/stat; do
        awk '{ match($0, /\(.*\)/); comm = substr($0, RSTART + 1, RLENGTH - 2);
               sub(/.*\) /, ""); gsub(/ /, "_", comm); print FILENAME, comm, $12 + $13 }' "$stat"
    done 2>/dev/null
}
threads >"$work/threads0.txt"; tw0=$(now)
wait "$feeder"
threads >"$work/threads1.txt"; tw1=$(now)
server_ticks2=$(ticks "$pulse_pid"); x_ticks2=$(ticks "$private_display_pid")
program_ticks2=$(ticks "$program"); sw1=$(now)

# Asked to end, the program closes its window and writes out its trace.
kill -TERM "$program"
wait "$program" || { echo "corvane ended with status $?" >&2; }

status=0
python3 "$here/live-figures-report.py" "$work/feed.txt" "$work/trace.txt" "$work/card.u8" \
    "$work/idle.txt" || status=$?
tps=$(getconf CLK_TCK)
awk -v t="$tps" -v w="$(awk -v a="$tw0" -v b="$tw1" 'BEGIN { print b - a }')" '
    NR == FNR { before[$1] = $3; next }
    { used = $3 - before[$1]; if (used > 0) printf "  thread %-16s %.2f%% of one core\n", $2, 100 * used / t / w }
' "$work/threads0.txt" "$work/threads1.txt"

awk -v a="$server_ticks1" -v b="$server_ticks2" -v s0="$sw0" -v s1="$sw1" -v t="$tps" \
    -v i0="$server_ticks0" 'BEGIN {
        printf "audio server CPU:     %.2f%% of one core while fed\n", 100 * (b - a) / t / (s1 - s0) }'

# What the picture costs on screen is paid by the X server as much as by the program.
awk -v p0="$program_ticks1" -v p1="$program_ticks2" -v x0="$x_ticks1" -v x1="$x_ticks2" \
    -v s0="$sw0" -v s1="$sw1" -v t="$tps" 'BEGIN {
        printf "X server CPU:         %.2f%% of one core while fed\n", 100 * (x1 - x0) / t / (s1 - s0)
        printf "program + X server:   %.2f%% of one core while fed\n",
               100 * (p1 - p0 + x1 - x0) / t / (s1 - s0) }'

if [ "$floor" = 1 ]; then
    parec --latency-msec=10 --format=u8 --rate=28800 --channels=1 --raw -d "$source" >/dev/null &
    parec=$!
    pids+=($parec)
    wait_for 20 recording
    sleep 1
    start_feed_target
    "$bin/corvane-live-feeder" --input "$work/card.u8" --fifo "$fifo" \
        --log "$work/floor.txt" --pid "$parec" --chunk "$chunk"
    awk '$1 == "cpu-start" { t0 = $2; c0 = $3 } $1 == "cpu-end" { t1 = $2; c1 = $3 }
         $1 == "ticks-per-second" { tps = $2 }
         END { printf "floor, parec --latency-msec=10 on the same feed: %.2f%% of one core\n",
                      100 * (c1 - c0) / tps / ((t1 - t0) / 1e9) }' "$work/floor.txt"
    # The program against the floor, both over the same feed in this run.
    cpu_share() {
        awk '$1 == "cpu-start" { t0 = $2; c0 = $3 } $1 == "cpu-end" { t1 = $2; c1 = $3 }
             END { print (c1 - c0) / ((t1 - t0) / 1e9) }' "$1"
    }
    awk -v p="$(cpu_share "$work/feed.txt")" -v f="$(cpu_share "$work/floor.txt")" \
        'BEGIN { if (f > 0) printf "program / floor:      %.1fx\n", p / f }'
fi
exit $status
