#!/bin/bash
# How long the window leaves the user waiting while it takes in a large
# folder: from the first picture shown, the window's answer time to a
# message, sampled every few milliseconds while the list sorts and the
# thumbnail view fills, for folders of 300 and 5,000 pictures. Target: no
# answer over 100 ms.
# usage: bench/stall_bench.sh [BUILD_DIR] [SECONDS]
set -eu
SECONDS_WATCHED=${2:-8}
. "$(dirname "$0")/viewerbench.sh"
for n in 300 5000; do
    PICS=$VS_TMP/pics$n
    mkdir -p "$PICS"
    convert -size 640x480 plasma:fractal -quality 85 "$PICS/p00000.jpg"
    for i in $(seq 1 $((n - 1))); do ln "$PICS/p00000.jpg" "$PICS/p$(printf %05d "$i").jpg"; done
    start_viewer "$(winpath "$PICS")\\p00000.jpg"
    wait_caption "p00000.jpg (1/$n)" >/dev/null || vs_fail "the first picture of $n did not show"
    out=$(B stalls "$MARK" "$SECONDS_WATCHED")
    echo "$n pictures, ${SECONDS_WATCHED} s from the first picture shown: $(tr '\n' ' ' <<<"$out")"
    stop_viewer
done
