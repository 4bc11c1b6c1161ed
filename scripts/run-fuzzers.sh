#!/usr/bin/env bash
# Builds the fuzz harnesses with clang and libFuzzer in build-fuzz/ and runs each one for a
# bounded time:  scripts/run-fuzzers.sh [seconds per harness, default 60]
# Each harness starts from its seed corpus (fuzz/corpus/<name>/, never changed here) and from
# what earlier runs found (build-fuzz/corpus/<name>/). A harness that fails leaves the input
# in build-fuzz/failures/; the script fails when any harness failed. Such an input belongs in
# fuzz/regressions/<name>/ once the fault is mended, so that the test suites replay it.
set -u
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-$(nproc)}
dir=build-fuzz

mkdir -p "$dir"
echo "== fuzzers: configure and build ($dir)"
if ! CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DFERROCASK_FUZZ=ON \
        -DFERROCASK_BUILD_TESTS=OFF -DFERROCASK_BUILD_BENCH=OFF >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"
    echo "FAILED: fuzzers (configure)"
    exit 1
fi
if ! cmake --build "$dir" -j "$jobs" --target fuzzers; then
    echo "FAILED: fuzzers (build)"
    exit 1
fi

failed=()
mkdir -p "$dir/failures"
while read -r name; do
    [ -z "$name" ] && continue
    echo "== fuzzer $name: ${seconds}s"
    mkdir -p "$dir/corpus/$name"
    # Keep the log of each run; print its end, and all of it when the harness failed.
    log="$dir/fuzz-$name.log"
    if "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$dir/failures/$name-" -max_len=8192 -timeout=30 \
            "$dir/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -3 "$log"
    else
        cat "$log"
        failed+=("$name")
    fi
done < "$dir/fuzz/fuzzers.txt"

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: fuzzers found failures in: ${failed[*]} (inputs in $dir/failures/)"
    exit 1
fi
echo "all fuzzers ran without failures"
