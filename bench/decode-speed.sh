#!/usr/bin/env bash
# Times corvane-decode against corvane-literal-decode (the same program around the literal
# decoder) on raw test-card files, process start-up and file reading included, checks that
# both write the identical picture, and times an hour of audio at the defaults.
#
#   bench/decode-speed.sh [BUILD_DIR]      (default: build; needs the bench targets built)
#
# Each timing is the best of five runs, since other work on the machine only slows a run;
# the ratios compare processor time (user + system).
set -euo pipefail

BUILD="${1:-build}"
BIN="$BUILD/bin"
for tool in corvane-testcard corvane-decode corvane-literal-decode corvane-bench-decoder; do
    [ -x "$BIN/$tool" ] || { echo "missing $BIN/$tool; build the bench targets first" >&2; exit 1; }
done
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# best_time CMD...: the shortest processor time (user + system) of five runs, in seconds, and
# the wall time of that run (best of five). Processor time, because on a shared machine the wall clock also
# counts the time spent waiting for a core.
best_time() {
    local best="" wall="" report t
    for _ in 1 2 3 4 5; do
        report=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
        t=$(awk '{ printf "%.3f", $2 + $3 }' <<<"$report")
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then
            best=$t
            wall=$(awk '{ printf "%.3f", $1 }' <<<"$report")
        fi
    done
    echo "$best $wall"
}

status=0
# name | decoder options | seconds of signal (28800 samples/s) | target ratio
while IFS='|' read -r name options seconds target; do
    # shellcheck disable=SC2086
    "$BIN/corvane-testcard" $options --min-level 20 --clip --seconds "$seconds" -o "$WORK/$name.u8"
    samples=$(stat -c %s "$WORK/$name.u8")
    # shellcheck disable=SC2086
    read -r fast fastWall < <(best_time "$BIN/corvane-decode" $options --min-level 20 -o "$WORK/$name-fast.ppm" "$WORK/$name.u8")
    # shellcheck disable=SC2086
    read -r literal literalWall < <(best_time "$BIN/corvane-literal-decode" $options --min-level 20 -o "$WORK/$name-literal.ppm" "$WORK/$name.u8")
    if cmp -s "$WORK/$name-fast.ppm" "$WORK/$name-literal.ppm"; then same="identical picture"; else same="PICTURES DIFFER"; status=1; fi
    ratio=$(awk -v l="$literal" -v f="$fast" 'BEGIN { printf "%.1f", l / f }')
    awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r < t) }' && status=1
    printf '%-10s %d samples  corvane-decode %6.3f s (wall %6.3f)  literal %6.3f s (wall %6.3f)  ratio %5.1fx (target %sx)  %s\n' \
        "$name" "$samples" "$fast" "$fastWall" "$literal" "$literalWall" "$ratio" "$target" "$same"
done <<'CASES'
defaults||1800|3
window128|--samples-averaged 128 --samples-per-pixel 1|1800|20
CASES

"$BIN/corvane-testcard" --seconds 3600 -o "$WORK/hour.u8"
read -r hour hourWall < <(best_time "$BIN/corvane-decode" -o "$WORK/hour.png" "$WORK/hour.u8")
printf 'one hour   %d samples  corvane-decode %6.3f s (wall %6.3f) at the defaults\n' \
    "$(stat -c %s "$WORK/hour.u8")" "$hour" "$hourWall"

# The whole-file rate, process start-up and file reading included, against the decoder's own
# rate in the benchmark (best of five, processor time) on the same kind of signal.
"$BIN/corvane-testcard" --min-level 20 --clip --seconds 3600 -o "$WORK/card.u8"
samples=$(stat -c %s "$WORK/card.u8")
read -r whole _ < <(best_time "$BIN/corvane-decode" --min-level 20 -o "$WORK/card.png" "$WORK/card.u8")
inproc=$("$BIN/corvane-bench-decoder" --benchmark_filter='^decoder/defaults' 2>/dev/null |
    sed 's/\x1b\[[0-9;]*m//g' | awk '$1 == "decoder/defaults/repeats:5" && $NF ~ /M\/s$/ {
             v = $NF; sub(/M\/s$/, "", v); if (v * 1e6 > best) best = v * 1e6 } END { print best }')
ratio=$(awk -v s="$samples" -v t="$whole" -v r="$inproc" 'BEGIN { printf "%.2f", s / t / r }')
awk -v r="$ratio" 'BEGIN { exit !(r < 0.75) }' && status=1
printf 'whole file %d samples  %.1f M samples/s against %.1f M in-process: %s of it (target 0.75)\n' \
    "$samples" "$(awk -v s="$samples" -v t="$whole" 'BEGIN { print s / t / 1e6 }')" \
    "$(awk -v r="$inproc" 'BEGIN { print r / 1e6 }')" "$ratio"
exit $status
