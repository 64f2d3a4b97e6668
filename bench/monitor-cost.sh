#!/usr/bin/env bash
# What the Monitor costs: the live program fed an NBTVA test transmission, with the Monitor open
# and locked and without it, in alternating runs; prints the program plus X server CPU of each
# and their ratio.
#
#   bench/monitor-cost.sh [--pairs N] [--seconds N] [--build DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
pairs=2
seconds=30
build="$(dirname "$here")/build"
while [ $# -gt 0 ]; do
    case "$1" in
        --pairs) pairs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --build) build=$2; shift 2 ;;
        *) echo "monitor-cost.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
card=$(mktemp /tmp/corvane-card-XXXXXX.u8)
trap 'rm -f "$card"' EXIT
"$build/bin/corvane-testcard" --standard nbtva --rate 28800 --seconds "$((seconds + 5))" \
    --ac-coupling 20 --level 0.5 -o "$card"
figure() {
    "$here/live-figures.sh" --build "$build" --seconds "$seconds" --idle-seconds 1 --no-trace \
        --card "$card" "$@" | awk '/^program \+ X server:/ { print $5 }' | tr -d '%'
}
with=(); without=()
for _ in $(seq "$pairs"); do
    without+=("$(figure)")
    with+=("$(figure --monitor)")
done
echo "without the Monitor: ${without[*]} % of one core (program + X server)"
echo "with it, locked:     ${with[*]} % of one core"
printf '%s\n' "${with[@]}" | paste -d' ' - <(printf '%s\n' "${without[@]}") |
    awk '{ printf "ratio: %.2f\n", $1 / $2; s += $1 / $2 } END { printf "mean ratio: %.2f\n", s / NR }'
