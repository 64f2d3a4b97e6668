#!/usr/bin/env bash
# Prints the lines of tests/ against the lines of every other source, form, CMake and script file
# outside tests/ and bench/, and their ratio (the project keeps it at or under 0.40).
# Counts what git tracks, so build directories never count.   usage: bench/line-ratio.sh [DIR...]
# With DIRs (inside tests/), prints their lines too.
set -euo pipefail
cd "$(dirname "$0")/.."
code='\.(cpp|h|ui|cmake|sh|py)$|(^|/)CMakeLists\.txt$'
count() { xargs -r cat -- | wc -l; }
tests=$(git ls-files tests | grep -E "$code" | count)
product=$(git ls-files | grep -vE '^(tests|bench)/' | grep -E "$code" | count)
echo "tests: $tests lines, product: $product lines, ratio $(awk "BEGIN { printf \"%.2f\", $tests / $product }")"
for dir in "$@"; do
    echo "$dir: $(git ls-files "$dir" | grep -E "$code" | count) lines"
done
