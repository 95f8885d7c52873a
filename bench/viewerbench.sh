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
# The timings' driver, its exit status kept through the filter.
B() {
    vs_run "$OUT/benchdriver.exe" "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}

# big_jpegs N: PICS (W for the viewer) holds p1.jpg .. pN.jpg, 6000 x 4000
# JPEGs of four kinds of content; they take a while to make, so they are
# kept outside the clone.
big_jpegs() {
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/vistrel/stepping-pics i f
    mkdir -p "$cache"
    PICS=$VS_TMP/pics
    mkdir -p "$PICS"
    for i in $(seq 1 "$1"); do
        f=$cache/p$i.jpg
        if [ ! -s "$f" ]; then
            echo "making $f..."
            case $((i % 4)) in
                0) convert -size 1500x1000 -seed "$i" plasma:fractal -resize 6000x4000! -attenuate 0.4 \
                       +noise Gaussian "$f.tmp.ppm" ;;
                1) convert -size 6000x4000 -seed "$i" gradient:navy-orange -attenuate 0.6 +noise Gaussian "$f.tmp.ppm" ;;
                2) convert -size 600x400 -seed "$i" plasma:green-yellow -blur 0x2 -resize 6000x4000! -attenuate 0.3 \
                       +noise Poisson "$f.tmp.ppm" ;;
                3) convert -size 6000x4000 -seed "$i" pattern:checkerboard -resize 6000x4000! -attenuate 0.5 \
                       +noise Impulse -blur 0x1 "$f.tmp.ppm" ;;
            esac
            cjpeg -quality 90 -sample 2x2 "$f.tmp.ppm" >"$f.tmp" && mv "$f.tmp" "$f"
            rm -f "$f.tmp.ppm"
        fi
        cp "$f" "$PICS/p$i.jpg"
    done
    W=$(winpath "$PICS")
}

# djpeg_median ARGS...: the median over PICS' files of djpeg's median of
# three runs with ARGS, in milliseconds (its process start included): a
# median as the viewer's figures are, not a best case against them. Each
# file's own figure goes to VS_TMP/djpeg.txt ("p1.jpg 95.3").
djpeg_median() {
    VS_TMP=$VS_TMP python3 - "$@" <<'PY'
import glob, os, statistics, subprocess, sys, time
times = []
for f in sorted(glob.glob(os.path.join(os.environ["PICS"], "p*.jpg"))):
    runs = []
    for _ in range(3):
        t = time.perf_counter()
        subprocess.run(["djpeg"] + sys.argv[1:] + ["-outfile", "/dev/null", f], check=True)
        runs.append((time.perf_counter() - t) * 1000)
    times.append(statistics.median(runs))
    with open(os.path.join(os.environ["VS_TMP"], "djpeg.txt"), "a") as out:
        out.write("%s %.1f\n" % (os.path.basename(f), times[-1]))
print("%.1f" % statistics.median(times))
PY
}

# watch_memory: idle gets the viewer's resident size (kB) now, and its size
# is sampled every 50 ms into VS_TMP/rss.txt until SAMPLER is killed.
watch_memory() {
    local pid
    # The viewer's own process: start_viewer's job runs it as a child.
    VIEWER=$APP
    for pid in $(pgrep -P "$APP"); do grep -q vistrel "/proc/$pid/cmdline" 2>/dev/null && VIEWER=$pid; done
    idle=$(rss)
    (while kill -0 "$VIEWER" 2>/dev/null; do rss; sleep 0.05; done) >"$VS_TMP/rss.txt" &
    SAMPLER=$!
}
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$VIEWER/status" 2>/dev/null; }
