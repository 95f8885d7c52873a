#!/bin/bash
# Builds the fuzz targets with clang and runs each for a bounded time on
# its committed corpus, JOBS targets at a time. A fixed seed makes the
# inputs tried the same on every run, so a pass or failure is repeatable
# (a loaded machine only gets less far). New inputs go to a work corpus in
# the build tree; a crash leaves its input there and fails the run.
#
#   tests/fuzz/run_fuzz.sh BUILD_DIR SECONDS JOBS [TARGET...]
#
# Prints, per target, the executions done and the outcome.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${1:?build folder}
SECONDS_EACH=${2:-20}
JOBS=${3:-2}
shift 3 || true

CLANG=${VS_CLANG:-clang-14}
CLANGXX=${VS_CLANGXX:-clang++-14}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    CC=$CLANG CXX=$CLANGXX cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVS_FUZZ=ON -DVS_BUILD_TESTS=OFF >/dev/null || exit 1
fi
cmake --build "$BUILD" --target fuzzers -j"$JOBS" >"$BUILD/fuzz-build.log" 2>&1 || {
    tail -40 "$BUILD/fuzz-build.log"
    exit 1
}

TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
    for d in "$ROOT"/tests/fuzz/corpus/*/; do TARGETS+=("$(basename "$d")"); done
fi

# Longest input each target mutates up to: room for the seeds and some growth.
max_len() {
    case "$1" in
        bmp|pcx|tga) echo 4096 ;;
        *) echo 8192 ;;
    esac
}

run_one() {
    local t=$1 bin="$BUILD/tests/fuzz/fuzz_$1" work="$BUILD/fuzz-work/$1" log="$BUILD/fuzz-logs/$1.log"
    # A fresh work corpus each time, so the seed alone decides the run.
    rm -rf "$work"
    mkdir -p "$work" "$BUILD/fuzz-logs" "$BUILD/fuzz-crashes"
    ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$bin" "$work" "$ROOT/tests/fuzz/corpus/$t" -seed="${VS_FUZZ_SEED:-1}" -max_total_time="$SECONDS_EACH" -timeout=10 \
        -rss_limit_mb=512 -max_len="$(max_len "$t")" -print_final_stats=1 \
        -artifact_prefix="$BUILD/fuzz-crashes/$t-" >"$log" 2>&1
    local rc=$?
    local runs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $rc -eq 0 ]; then
        printf '%-8s %12s executions  ok\n' "$t" "${runs:-?}"
    else
        printf '%-8s %12s executions  FAILED (exit %d), see %s\n' "$t" "${runs:-?}" "$rc" "$log"
        grep -m5 -E 'ERROR|SUMMARY|invariant|Test unit written' "$log" | sed 's/^/    /'
    fi
    return $rc
}

failed=0
pids=()
names=()
for t in "${TARGETS[@]}"; do
    [ -x "$BUILD/tests/fuzz/fuzz_$t" ] || { echo "no fuzz target $t"; failed=1; continue; }
    run_one "$t" &
    pids+=($!)
    names+=("$t")
    if [ ${#pids[@]} -ge "$JOBS" ]; then
        wait "${pids[0]}" || failed=1
        pids=("${pids[@]:1}")
    fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done
exit $failed
