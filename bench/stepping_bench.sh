#!/bin/bash
# Milliseconds from a key press to the painted picture while stepping
# through a folder of 6000 x 4000 JPEGs on a 1280 x 1024 screen, against
# djpeg -scale 1/4 of the same file (the decode the viewer needs at that
# screen size) as the floor.
# usage: bench/stepping_bench.sh [BUILD_DIR] [STEPS]
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/release}
STEPS=${2:-12}
OUT=$BUILD/shell
[ -e "$OUT/vistrel.exe.so" ] || { echo "build the shell first (bash tools/check.sh)" >&2; exit 1; }
unset DISPLAY  # a private 1280 x 1024 screen
. "$ROOT/tests/e2e/winenv.sh"
vs_wine_start /usr/lib/wine/wine64
. "$ROOT/tests/e2e/viewerlib.sh"

PICS=$VS_TMP/pics
mkdir -p "$PICS"
echo "making the pictures..."
# Detail everywhere, as a camera picture has: noise over a colour plasma.
convert -size 1500x1000 plasma:fractal -resize 6000x4000! -attenuate 0.4 +noise Gaussian -quality 90 \
    -sampling-factor 2x2 "$PICS/p1.jpg"
for i in 2 3 4 5 6; do cp "$PICS/p1.jpg" "$PICS/p$i.jpg"; done

floor=$(python3 - "$PICS/p1.jpg" <<'PY'
import subprocess, sys, time
best = None
for _ in range(5):
    t = time.perf_counter()
    subprocess.run(["djpeg", "-scale", "1/4", "-outfile", "/dev/null", sys.argv[1]], check=True)
    t = (time.perf_counter() - t) * 1000
    best = t if best is None or t < best else best
print("%.1f" % best)
PY
)
start_viewer "$(winpath "$PICS")\\p1.jpg"
wait_caption "p1.jpg (1/6)" >/dev/null || vs_fail "viewer did not show the first picture"
sleep 1
D step "$MARK" "$STEPS" RIGHT > "$VS_TMP/steps.txt"
stop_viewer
python3 - "$VS_TMP/steps.txt" "$floor" <<'PY'
import statistics, sys
steps = [float(x) for x in open(sys.argv[1]) if x.strip()]
floor = float(sys.argv[2])
median = statistics.median(steps)
print("steps: %d, per step: median %.1f ms, best %.1f ms, worst %.1f ms" % (len(steps), median, min(steps), max(steps)))
print("djpeg -scale 1/4 (best of 5, process start included): %.1f ms" % floor)
print("ratio (median step / floor): %.2f   target: at most 1.50" % (median / floor))
PY
