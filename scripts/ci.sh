#!/bin/sh
# Builds and tests everything CI checks, from a clean checkout:
#   1. the default preset (RelWithDebInfo, warnings as errors), all tests;
#   2. the asan preset (AddressSanitizer + UndefinedBehaviorSanitizer), all tests;
#   3. the tsan preset (ThreadSanitizer), all tests;
#   4. the fuzz preset (clang + libFuzzer): every fuzz target for a bounded time.
# FUZZ_SECONDS (default 60) bounds each fuzz run.
set -eu

cd "$(dirname "$0")/.."
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
JOBS="${JOBS:-$(nproc)}"

step() {
    printf '\n=== %s (%s)\n' "$1" "$(date +%H:%M:%S)"
}

for preset in default asan tsan; do
    step "configure $preset"
    cmake --preset "$preset" -DINKORA_WERROR=ON
    step "build $preset"
    cmake --build --preset "$preset" -j "$JOBS"
    step "test $preset"
    ctest --preset "$preset" -j "$JOBS"
done

step "configure fuzz"
cmake --preset fuzz -DINKORA_WERROR=ON
step "build fuzz"
cmake --build --preset fuzz -j "$JOBS"
for fuzzer in build/fuzz/fuzz-*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="fuzz/corpus/${name#fuzz-}"
    work=$(mktemp -d)
    step "fuzz $name for ${FUZZ_SECONDS}s"
    # New inputs go to a scratch directory; the checked-in corpus is only read.
    "$fuzzer" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "$work" "$corpus"
    rm -rf "$work"
done

step "all checks passed"
