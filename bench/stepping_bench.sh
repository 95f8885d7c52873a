#!/bin/bash
# Milliseconds from a key (or a hand-over) to the end of the paint that
# shows the picture it brings, stepping through 6000 x 4000 JPEGs of
# different content on a 1280 x 1024 screen; against djpeg -scale 1/4 of
# the same files (the decode the viewer needs at that screen size) in the
# same run. The viewer stamps each picture's paint (window properties the
# driver reads); the memory figure is the viewer's resident size over its
# idle size while stepping.
# usage: bench/stepping_bench.sh [BUILD_DIR] [GAP_MS]
set -eu
GAP=${2:-800}
. "$(dirname "$0")/viewerbench.sh"

# The pictures take a while to make: kept outside the clone.
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/vistrel/stepping-pics
mkdir -p "$CACHE"
make_picture() {  # N: a different scene for each
    local f=$CACHE/p$1.jpg
    [ -s "$f" ] && return
    echo "making $f..."
    case $(($1 % 4)) in
        0) convert -size 1500x1000 -seed "$1" plasma:fractal -resize 6000x4000! -attenuate 0.4 +noise Gaussian "$f.tmp.ppm" ;;
        1) convert -size 6000x4000 -seed "$1" gradient:navy-orange -attenuate 0.6 +noise Gaussian "$f.tmp.ppm" ;;
        2) convert -size 600x400 -seed "$1" plasma:green-yellow -blur 0x2 -resize 6000x4000! -attenuate 0.3 \
               +noise Poisson "$f.tmp.ppm" ;;
        3) convert -size 6000x4000 -seed "$1" pattern:checkerboard -resize 6000x4000! -attenuate 0.5 \
               +noise Impulse -blur 0x1 "$f.tmp.ppm" ;;
    esac
    cjpeg -quality 90 -sample 2x2 "$f.tmp.ppm" >"$f.tmp" && mv "$f.tmp" "$f"
    rm -f "$f.tmp.ppm"
}
PICS=$VS_TMP/pics
mkdir -p "$PICS"
for i in 1 2 3 4 5 6 7 8; do
    make_picture "$i"
    cp "$CACHE/p$i.jpg" "$PICS/p$i.jpg"
done
W=$(winpath "$PICS")

floor=$(python3 - "$PICS"/p*.jpg <<'PY'
import statistics, subprocess, sys, time
times = []
for f in sys.argv[1:]:
    best = None
    for _ in range(3):
        t = time.perf_counter()
        subprocess.run(["djpeg", "-scale", "1/4", "-outfile", "/dev/null", f], check=True)
        t = (time.perf_counter() - t) * 1000
        best = t if best is None or t < best else best
    times.append(best)
print("%.1f" % statistics.median(times))
PY
)

start_viewer "$W\\p1.jpg"
wait_caption "p1.jpg (1/8)" >/dev/null || vs_fail "viewer did not show the first picture"
sleep 3
# The viewer's own process: start_viewer's job runs it as a child.
VIEWER=$APP
for pid in $(pgrep -P "$APP"); do grep -q vistrel "/proc/$pid/cmdline" 2>/dev/null && VIEWER=$pid; done
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$VIEWER/status" 2>/dev/null; }
idle=$(rss)
( while kill -0 "$VIEWER" 2>/dev/null; do rss; sleep 0.05; done ) >"$VS_TMP/rss.txt" &
SAMPLER=$!
D steps "$MARK" "$GAP" $(for i in $(seq 1 16); do echo RIGHT; done) >"$VS_TMP/sequential.txt"
D steps "$MARK" "$GAP" LEFT LEFT LEFT >>"$VS_TMP/sequential.txt"
# Jumps nothing was decoded ahead for: hand-overs of every third picture,
# Home and End from the middle.
D steps "$MARK" "$GAP" "open:$W\\p1.jpg" "open:$W\\p4.jpg" HOME "open:$W\\p7.jpg" "open:$W\\p2.jpg" \
    "open:$W\\p5.jpg" END "open:$W\\p8.jpg" "open:$W\\p3.jpg" "open:$W\\p6.jpg" HOME >"$VS_TMP/jumps.txt"
kill "$SAMPLER" 2>/dev/null || true
stop_viewer
python3 - "$VS_TMP/sequential.txt" "$VS_TMP/jumps.txt" "$floor" "$idle" "$VS_TMP/rss.txt" "$GAP" <<'PY'
import statistics, sys
def times(path):
    return [float(line.split()[-1]) for line in open(path) if line.strip()]
seq, jumps = times(sys.argv[1]), times(sys.argv[2])
print("each action, ms:", " ".join(open(sys.argv[1]).read().split()), "|", " ".join(open(sys.argv[2]).read().split()))
floor, idle = float(sys.argv[3]), int(sys.argv[4])
peak = max([int(x) for x in open(sys.argv[5]) if x.strip()] or [idle])
print("6000 x 4000 JPEGs, 1280 x 1024 screen, %s ms between actions" % sys.argv[6])
print("djpeg -scale 1/4, median of the 8 files (best of 3 each): %.1f ms" % floor)
for name, t, target in (("sequential steps", seq, (0.3, 1.0)), ("jumps", jumps, (1.3, None))):
    med, worst = statistics.median(t), max(t)
    line = "%-16s n=%2d  median %7.1f ms (%.2fx djpeg, target <= %.1fx)  worst %7.1f ms (%.2fx" % (
        name, len(t), med, med / floor, target[0], worst, worst / floor)
    print(line + (", target <= %.1fx)" % target[1] if target[1] else ")"))
print("memory: idle %.0f MB, peak while stepping %.0f MB: %.0f MB above idle (target <= 150)" % (
    idle / 1024, peak / 1024, (peak - idle) / 1024))
PY
