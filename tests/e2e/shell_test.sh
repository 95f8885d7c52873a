#!/bin/bash
# The viewer starts under Wine, shows its main window with its caption,
# and ends when the window is closed.
# usage: shell_test.sh SHELL_OUT_DIR WINE64
set -u
. "$(dirname "$0")/viewerlib.sh"
OUT=$1
vs_wine_start "$2"
start_viewer
info=$(info)
echo "$info"
[ "$(field caption <<<"$info")" = "$MARK - Orvanta" ] || vs_fail "caption is \"$(field caption <<<"$info")\""
read -r left top right bottom <<<"$(field rect <<<"$info")"
[ $((right - left)) -gt 100 ] && [ $((bottom - top)) -gt 100 ] || vs_fail "window too small: $left $top $right $bottom"
D close "$MARK" || vs_fail "close failed"
D gone "$MARK" 30 || vs_fail "window still there after close"
wait "$APP" || vs_fail "viewer exited with $?"
echo "PASS"
