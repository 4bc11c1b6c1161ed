#!/usr/bin/env bash
# Builds and runs the whole test suite in the normal build and in the sanitizer build,
# and the framework's threaded tests in the thread-sanitizer build, then runs every fuzz
# harness for FUZZ_SECONDS (default 30) seconds. Every run goes to the end; the script fails
# when any of them failed. The tests that open windows run on a private X server (Xvfb,
# 24-bit colour) started for each run, whatever DISPLAY says.
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
failed=()

# run_suite NAME DIR LABEL TARGET [CMAKE OPTIONS...]: with a label only the tests carrying it
# run; with a target only that target is built (else everything).
run_suite() {
    local name=$1 dir=$2 label=$3 target=$4
    shift 4
    echo "== $name: configure and build ($dir)"
    if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log"
        failed+=("$name (configure)")
        return
    fi
    local build=(--build "$dir" -j "$jobs")
    [ -n "$target" ] && build+=(--target "$target")
    if ! cmake "${build[@]}"; then
        failed+=("$name (build)")
        return
    fi
    echo "== $name: tests"
    local args=(--test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300)
    [ -n "$label" ] && args+=(-L "$label")
    if ! xvfb-run -a -s "-screen 0 1280x1024x24" ctest "${args[@]}" </dev/null; then
        failed+=("$name (tests)")
    fi
}

mkdir -p build build-asan build-tsan
run_suite normal build "" ""
run_suite sanitizers build-asan "" "" -DFERROCASK_SANITIZE=ON -DFERROCASK_BUILD_BENCH=OFF
run_suite thread-sanitizer build-tsan framework framework_tests -DFERROCASK_TSAN=ON -DFERROCASK_BUILD_BENCH=OFF
if ! JOBS=$jobs scripts/run-fuzzers.sh "${FUZZ_SECONDS:-30}"; then
    failed+=("fuzzers")
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "all test runs passed"
