#!/usr/bin/env bash
# The ten-minute soak: bench/live-figures.sh feeding the real program a test card in real time
# for 600 s (or --seconds N), failing unless every buffer was decoded exactly once and resident
# memory grew by less than 1 MB (1024 kB) over the feed. Other options go to live-figures.sh.
#
#   bench/soak.sh [--seconds N] [--build DIR] [...]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
report=$(mktemp /tmp/corvane-soak-XXXXXX)
trap 'rm -f "$report"' EXIT

status=0
"$here/live-figures.sh" --seconds 600 "$@" | tee "$report" || status=1
# "resident memory:      33300 kB at start of feed, 33360 kB at end (+60 kB)"
drift=$(awk '/^resident memory:/ { print $9 - $3 }' "$report")
if [ -z "$drift" ]; then
    echo "soak: no memory figures in the report" >&2
    exit 1
fi
if [ "$drift" -ge 1024 ]; then
    echo "soak: resident memory grew by $drift kB (limit 1024 kB)" >&2
    status=1
fi
grep -q 'lost 0, doubled 0, checksum mismatches 0' "$report" || status=1
echo "soak: $([ $status -eq 0 ] && echo passed || echo FAILED); memory drift $drift kB"
exit $status
