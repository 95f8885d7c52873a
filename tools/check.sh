#!/bin/bash
# Builds everything and runs every test: the core and the shell (under
# Wine and a virtual display), the native Windows programs and their
# installer (under Wine too), then the core again under AddressSanitizer
# and UndefinedBehaviorSanitizer.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/deps.sh"
vs_install_deps
vs_use_ccache

JOBS=$(nproc 2>/dev/null || echo 2)
BUILD=${VS_BUILD_DIR:-$ROOT/build}
# Each stage's heading with the time taken so far: where a slow run spends it.
stage() { echo "== $1 (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }

stage "release build with the shell"
cmake -S "$ROOT" -B "$BUILD/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVS_BUILD_SHELL=ON >/dev/null
cmake --build "$BUILD/release" -j"$JOBS"
(cd "$BUILD/release" && ctest --output-on-failure -j"$JOBS")

stage "Windows programs (MinGW-w64): the end-to-end tests again on them, then the installer"
bash "$ROOT/tools/pe_build.sh" "$BUILD/pe" -- -j"$JOBS"
bash "$ROOT/tools/release.sh"

stage "core under ASan + UBSan"
cmake -S "$ROOT" -B "$BUILD/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVS_SANITIZE=ON >/dev/null
# Only what the tests run: the benchmarks are built by the release pass.
cmake --build "$BUILD/sanitize" -j"$JOBS" --target core_tests istool
(cd "$BUILD/sanitize" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$JOBS")
stage "fuzz smoke pass (clang, libFuzzer, ASan + UBSan)"
bash "$ROOT/tests/fuzz/run_fuzz.sh" "$BUILD/libfuzzer" "${VS_FUZZ_SECONDS:-15}" "$JOBS"
stage "all tests passed"
