#!/bin/bash
# The viewer starts under Wine, shows its main window with its caption,
# and ends when the window is closed.
# usage: shell_test.sh SHELL_OUT_DIR WINE64
set -u
OUT=$1
. "$(dirname "$0")/winenv.sh"
vs_wine_start "$2"

vs_run "$OUT/vistrel.exe" &
APP=$!

info=$(vs_run "$OUT/vsdriver.exe" wait "Vistrel Viewer - v2.0" 60) || vs_fail "main window did not appear"
echo "$info"
caption=$(sed -n 's/^caption=//p' <<<"$info" | tr -d '\r')
[ "$caption" = "Vistrel Viewer - v2.0 - Orvanta" ] || vs_fail "caption is \"$caption\""
read -r left top right bottom < <(sed -n 's/^rect=//p' <<<"$info" | tr -d '\r')
[ $((right - left)) -gt 100 ] && [ $((bottom - top)) -gt 100 ] || vs_fail "window too small: $left $top $right $bottom"

vs_run "$OUT/vsdriver.exe" close "Vistrel Viewer - v2.0" || vs_fail "close failed"
vs_run "$OUT/vsdriver.exe" gone "Vistrel Viewer - v2.0" 30 || vs_fail "window still there after close"
for i in $(seq 1 100); do
    kill -0 "$APP" 2>/dev/null || break
    sleep 0.2
done
kill -0 "$APP" 2>/dev/null && vs_fail "viewer process did not end"
wait "$APP" || vs_fail "viewer exited with $?"
echo "PASS"
