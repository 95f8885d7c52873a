# Sourced by the viewer's benchmarks: BUILD_DIR (the first argument) holds
# the built shell; a private Wine and a 1280 x 1024 virtual screen are
# started, with the end-to-end tests' helpers (viewerlib.sh).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build/release}
OUT=$BUILD/shell
[ -e "$OUT/vistrel.exe.so" ] || { echo "build the shell first (bash tools/check.sh)" >&2; exit 1; }
unset DISPLAY
. "$ROOT/tests/e2e/winenv.sh"
vs_wine_start /usr/lib/wine/wine64
. "$ROOT/tests/e2e/viewerlib.sh"
