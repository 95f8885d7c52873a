#!/bin/bash
# Milliseconds from a key (or a hand-over) to the end of the paint that
# shows the picture it brings, stepping through 6000 x 4000 JPEGs of
# different content on a 1280 x 1024 screen; each against djpeg -scale 1/4
# of the file it shows (the decode the viewer needs at that screen size) in
# the same run. The viewer stamps each picture's paint (window properties the
# driver reads); the memory figure is the viewer's resident size over its
# idle size while stepping.
# usage: bench/stepping_bench.sh [BUILD_DIR] [GAP_MS]
set -eu
GAP=${2:-800}
. "$(dirname "$0")/viewerbench.sh"

big_jpegs 8
export PICS
floor=$(djpeg_median -scale 1/4)

start_viewer "$W\\p1.jpg"
wait_caption "p1.jpg (1/8)" >/dev/null || vs_fail "viewer did not show the first picture"
sleep 3
watch_memory
B steps "$MARK" "$GAP" $(for i in $(seq 1 16); do echo RIGHT; done) >"$VS_TMP/sequential.txt"
B steps "$MARK" "$GAP" LEFT LEFT LEFT >>"$VS_TMP/sequential.txt"
# Jumps nothing was decoded ahead for: hand-overs of every third picture,
# Home and End from the middle.
B steps "$MARK" "$GAP" "open:$W\\p1.jpg" "open:$W\\p4.jpg" HOME "open:$W\\p7.jpg" "open:$W\\p2.jpg" \
    "open:$W\\p5.jpg" END "open:$W\\p8.jpg" "open:$W\\p3.jpg" "open:$W\\p6.jpg" HOME >"$VS_TMP/jumps.txt"
kill "$SAMPLER" 2>/dev/null || true
stop_viewer
python3 - "$VS_TMP/sequential.txt" "$VS_TMP/jumps.txt" "$floor" "$idle" "$VS_TMP/rss.txt" "$GAP" "$VS_TMP/djpeg.txt" <<'PY'
import re, statistics, sys
def rows(path):
    return [line.split() for line in open(path) if line.strip()]
seq, jumps = rows(sys.argv[1]), rows(sys.argv[2])
floor, idle = float(sys.argv[3]), int(sys.argv[4])
own = {name: float(ms) for name, ms in rows(sys.argv[7])}
count = len(own)
# The file each action lands on, from p1: files differ in detail, so each
# time is set against djpeg of the very file it shows.
at = 1
def lands(action):
    global at
    if action.startswith("open:"):
        at = int(re.search(r"p(\d+)\.jpg$", action).group(1))
    else:
        at = {"RIGHT": at % count + 1, "LEFT": (at - 2) % count + 1, "HOME": 1, "END": count}[action]
    return "p%d.jpg" % at
print("each action, ms (x its file's djpeg):", " | ".join(
    " ".join("%s %s (%.2fx)" % (a.rsplit("\\", 1)[-1], t, float(t) / own[lands(a)]) for a, t in part)
    for part in (seq, jumps)))
peak = max([int(x) for x in open(sys.argv[5]) if x.strip()] or [idle])
print("6000 x 4000 JPEGs, 1280 x 1024 screen, %s ms between actions" % sys.argv[6])
print("djpeg -scale 1/4, median of the %d files (median of 3 each): %.1f ms" % (count, floor))
at = 1
for name, part, target in (("sequential steps", seq, (0.3, 1.0)), ("jumps", jumps, (1.3, None))):
    ms = [float(t) for _, t in part]
    ratio = [float(t) / own[lands(a)] for a, t in part]
    line = "%-16s n=%2d  median %7.1f ms (%.2fx its file's djpeg, target <= %.1fx)  worst %7.1f ms (%.2fx" % (
        name, len(ms), statistics.median(ms), statistics.median(ratio), target[0], max(ms), max(ratio))
    print(line + (", target <= %.1fx)" % target[1] if target[1] else ")"))
print("memory: idle %.0f MB, peak while stepping %.0f MB: %.0f MB above idle (target <= 150)" % (
    idle / 1024, peak / 1024, (peak - idle) / 1024))
PY
