#!/usr/bin/env bash
# Installs what the tests need, builds with -Werror, and runs every test through ctest:
# first the signal core, recording devices and tools under AddressSanitizer + UndefinedBehaviorSanitizer
# (build-asan/), then the whole project (build/) on a private virtual X display, then a short
# fuzzing run (build-fuzz/), then the Debian package: made, linted, installed and run.
# The audio tests start their own private PulseAudio servers with a virtual recording source.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages "${CORVANE_BUILD_PACKAGES[@]}" "${CORVANE_TEST_PACKAGES[@]}" \
    "${CORVANE_PACKAGE_PACKAGES[@]}" "${CORVANE_FUZZ_PACKAGES[@]}"

jobs="$(nproc)"
# Each ctest run's report, for the closing count.
results="$(mktemp -d)"

echo "== Signal core, recording devices and tools under ASan + UBSan"
configure_and_build "$CORVANE_ROOT/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_WERROR=ON -DCORVANE_SANITIZE=ON -DCORVANE_CORE_ONLY=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS="suppressions=$CORVANE_ROOT/bench/lsan.supp" \
    ctest --test-dir "$CORVANE_ROOT/build-asan" --output-on-failure -j "$jobs" | tee "$results/asan.log"

echo "== Whole project"
configure_and_build "$CORVANE_ROOT/build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON

# A private X server, so widget and focus tests never touch the user's desktop.
xvfb_dir="$(mktemp -d)"
trap 'kill ${private_display_pid:-} 2>/dev/null || true; rm -rf "$xvfb_dir"' EXIT
start_private_display "$xvfb_dir"
unset WAYLAND_DISPLAY PULSE_SERVER

ctest --test-dir "$CORVANE_ROOT/build" --output-on-failure -j "$jobs" | tee "$results/all.log"

echo "== Fuzzing: each libFuzzer target for ${CORVANE_FUZZ_SECONDS:-20} s from its seeds; a crash fails the run"
ensure_packages "${CORVANE_FUZZ_PACKAGES[@]}"
fuzz_build="$CORVANE_ROOT/build-fuzz"
cmake -S "$CORVANE_ROOT" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCORVANE_FUZZ=ON -DCORVANE_CORE_ONLY=ON -DCORVANE_TESTS=OFF \
    -DCORVANE_BENCH=OFF >/dev/null
cmake --build "$fuzz_build" --parallel "$jobs" --target fuzz_soundfile fuzz_locked_decoder fuzz_transmitter
"$CORVANE_ROOT/scripts/fuzz-seeds.sh" "$fuzz_build/seeds" >/dev/null
for target in soundfile locked_decoder transmitter; do
    corpus="$fuzz_build/corpus/$target"
    mkdir -p "$corpus"
    # The inputs that found faults before go in as seeds too, so they stay fixed.
    log="$fuzz_build/fuzz-$target.log"
    if ! (cd "$fuzz_build" && "bin/fuzz_$target" -max_total_time="${CORVANE_FUZZ_SECONDS:-20}" \
        -timeout=10 -rss_limit_mb=2048 "$corpus" "seeds/$target" "$CORVANE_ROOT/fuzz/findings" \
        >"$log" 2>&1); then
        tail -n 60 "$log"
        echo "fuzz_$target failed: the input is in $fuzz_build (crash-*, timeout-*, oom-*)" >&2
        exit 1
    fi
    echo "fuzz_$target: $(grep -E '^Done' "$log")"
done

echo "== Debian package: made from build/, checked, installed and run"
ensure_packages "${CORVANE_PACKAGE_PACKAGES[@]}"
package_dir="$(mktemp -d)"
trap 'kill ${private_display_pid:-} 2>/dev/null || true; rm -rf "$xvfb_dir" "$package_dir"' EXIT
"$CORVANE_ROOT/scripts/package.sh" "$package_dir"
deb="$(ls "$package_dir"/corvane_*_amd64.deb)"
# Errors fail the run; warnings are shown.
lintian --fail-on error "$deb" >"$package_dir/lintian.log" 2>&1 || status=$?
grep -v "running with root privileges" "$package_dir/lintian.log" || true
[ "${status:-0}" -eq 0 ]
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb" >/dev/null
/usr/bin/corvane-decode --version
/usr/bin/corvane-testcard --standard nbtva -o "$package_dir/card.wav"
/usr/bin/corvane-decode --locked "$package_dir/card.wav" -o "$package_dir/card.png" >/dev/null
test -s "$package_dir/card.png"
/usr/bin/corvane --help >/dev/null
test -f /usr/lib/x86_64-linux-gnu/qt6/plugins/designer/libcorvane_designer.so
as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y corvane >/dev/null
echo "Package $(basename "$deb"): lintian clean, installed programs run"

# Every stage passed (the script stops at the first failure): the tests counted once more.
passed=$(cat "$results"/*.log | sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' |
    awk '{ n += $1 } END { print n + 0 }')
rm -rf "$results"
echo "tests: $passed passed, 0 failed"
