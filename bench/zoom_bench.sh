#!/bin/bash
# Milliseconds from a key to the end of the paint of the view it brings,
# on 6000 x 4000 JPEGs on a 1280 x 1024 screen: the first press of 1 (the
# actual size), timed to the paint drawn from the full decode the worker
# makes, against djpeg 1/1 of the same file in the same run; a second 1 once
# the full picture is at hand; and each Ctrl + arrow pan at 100% and at
# 381% (six steps of 1.25 further). The memory figure is the viewer's
# resident size over its idle size while zoomed and panning.
# usage: bench/zoom_bench.sh [BUILD_DIR] [GAP_MS]
set -eu
GAP=${2:-1500}
. "$(dirname "$0")/viewerbench.sh"

big_jpegs 4
export PICS
floor=$(djpeg_median)

start_viewer "$W\\p1.jpg"
wait_caption "p1.jpg (1/4)" >/dev/null || vs_fail "viewer did not show the first picture"
sleep 3
watch_memory
# Each picture at the fitted view, its neighbours decoded ahead by the
# time the gap ends; then 1 to the full picture's paint, 0, and 1 again.
for i in 1 2 3 4; do
    B steps "$MARK" "$GAP" full:1 0 1 >>"$VS_TMP/actual.txt"
    B steps "$MARK" "$GAP" 0 RIGHT >/dev/null
done
# At 100% and six steps further, centred: pans an eighth of the view.
B steps "$MARK" "$GAP" full:1 >/dev/null
pans() { for k in RIGHT DOWN LEFT UP RIGHT DOWN LEFT UP; do echo "ctrl:$k"; done; }
B steps "$MARK" 150 $(pans) >"$VS_TMP/pan100.txt"
B steps "$MARK" 300 ADD ADD ADD ADD ADD ADD >/dev/null
expect_pane 1 "Dimensions:  6000 x 4000  (381%)"
B steps "$MARK" 150 $(pans) >"$VS_TMP/pan381.txt"
kill "$SAMPLER" 2>/dev/null || true
stop_viewer
python3 - "$VS_TMP/actual.txt" "$VS_TMP/pan100.txt" "$VS_TMP/pan381.txt" "$floor" "$idle" "$VS_TMP/rss.txt" <<'PY'
import statistics, sys
def rows(path):
    return [line.split() for line in open(path) if line.strip()]
actual = rows(sys.argv[1])
first = [float(t) for k, t in actual if k == "full:1"]
again = [float(t) for k, t in actual if k == "1"]
pan100 = [float(t) for _, t in rows(sys.argv[2])]
pan381 = [float(t) for _, t in rows(sys.argv[3])]
floor, idle = float(sys.argv[4]), int(sys.argv[5])
peak = max([int(x) for x in open(sys.argv[6]) if x.strip()] or [idle])
print("6000 x 4000 JPEGs, 1280 x 1024 screen, the window at its first-start size")
print("djpeg 1/1, median of the 4 files (median of 3 each): %.1f ms" % floor)
med = statistics.median(first)
print("1, to the full picture's paint  n=%d  median %7.1f ms (%.2fx djpeg, target <= 1.5x)  worst %7.1f ms"
      % (len(first), med, med / floor, max(first)))
print("1 again, full picture at hand   n=%d  median %7.1f ms" % (len(again), statistics.median(again)))
for name, t in (("pan at 100%", pan100), ("pan at 381%", pan381)):
    print("%-31s n=%d  median %7.1f ms (target < 16)  worst %7.1f ms" % (name, len(t), statistics.median(t), max(t)))
print("memory: idle %.0f MB, peak %.0f MB: %.0f MB above idle (one full 6000 x 4000 picture is 69 MB)" % (
    idle / 1024, peak / 1024, (peak - idle) / 1024))
PY
