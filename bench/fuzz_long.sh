#!/bin/bash
# The longer fuzz run: each target for SECONDS (default 3600), one at a
# time, printing executions per target. Crash inputs land in
# BUILD/fuzz-crashes; copy each into tests/fuzz/corpus/<target>/ as
# "regress-<name>" once its bug is fixed.
#
#   bench/fuzz_long.sh [SECONDS] [BUILD_DIR] [TARGET...]
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-3600}
BUILD=${2:-$ROOT/build/fuzz-long}
shift 2 2>/dev/null || shift $#
exec bash "$ROOT/tests/fuzz/run_fuzz.sh" "$BUILD" "$SECONDS_EACH" 1 "$@"
