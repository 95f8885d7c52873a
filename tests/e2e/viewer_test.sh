#!/bin/bash
# The viewer end to end under Wine, driven as a user would: first start, hand-over from a second start, EXIF
# orientation, status panes, a corrupt file, full screen, deletion, the picture area above the status bar, the placement
# written at exit and restored at the next start, starts without a readable picture, and a held file.
# usage: viewer_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"

# Solid colours, a file of 1,048,575 bytes, a corrupt one, and a camera picture stored sideways (EXIF orientation 6).
convert -size 320x240 xc:'#ff0000' "$PICS/a.png"
convert -size 320x240 xc:'#00ff00' "$PICS/b.png"
convert -size 320x240 xc:'#00ffff' "$PICS/b2.png"
convert -size 160x120 xc:'#ffff00' "$PICS/big.png"
truncate -s 1048575 "$PICS/big.png"
head -c 3000 /dev/urandom > "$PICS/broken.jpg"
convert -size 320x240 xc:'#0000ff' "$PICS/c.png"
convert -size 200x100 xc:'#ff0000' -size 200x100 xc:'#0000ff' +append -quality 95 "$PICS/orient6.jpg"
exiftool -q -overwrite_original -n -Orientation=6 "$PICS/orient6.jpg" || vs_fail "exiftool failed"
echo "notes" > "$PICS/notes.txt"

echo "-- first start without settings"
start_viewer "$WPICS\\b.png"
wait_caption "Orvanta - b.png (2/7)" >/dev/null || vs_fail "first picture not shown with its sorted counter"
expect_rect "200 200 1160 800" "first start"
# Green picture in the middle, background colour around it.
pixel_is $CX 291 0 255 0 20 100 92 139 180 || vs_fail "picture or background not painted"

echo "-- second start hands its path over"
vs_run "$OUT/vistrel.exe" "$WPICS\\c.png" || vs_fail "second start exited with $?"
wait_caption "Orvanta - c.png (6/7)" >/dev/null || vs_fail "hand-over not shown"
pixel_is $CX 291 0 0 255 || vs_fail "handed-over picture not painted"
# The hand-over is sent and handled before the second start ends.
vs_run "$OUT/vistrel.exe" || vs_fail "second start without argument failed"
wait_caption "c.png (6/7)" >/dev/null || vs_fail "argument-less start changed the picture"
# A hand-over keeps the list only while the folder holds the same pictures.
rm "$PICS/b2.png"
vs_run "$OUT/vistrel.exe" "$WPICS\\C.PNG" || vs_fail "hand-over after a removal"
wait_caption "Orvanta - c.png (5/6)" >/dev/null || vs_fail "the removed file is still listed"

echo "-- EXIF orientation 6 turns the picture upright"
press END "orient6.jpg (6/6)"
# 200 x 100, red left and blue right, turned clockwise: 100 x 200, red on top.
pixel_is $CX 241 255 0 0 $CX 341 0 0 255 $((CX - 66)) 291 92 139 180 || vs_fail "orient6.jpg not shown turned clockwise"

echo "-- status panes of a 1,048,575-byte file"
press HOME RIGHT RIGHT "big.png (3/6)"
expect_pane 2 "File size: 1024 KB"

echo "-- a corrupt file: message, previous picture kept"
D key "$MARK" RIGHT
text=$(D dialog "Vistrel Viewer" 1 20) || vs_fail "no message for the corrupt file"
expected="Cannot read picture file ($WPICS\\broken.jpg). The file may be corrupted!"
grep -qF "$expected" <<<"$text" || vs_fail "message was \"$text\""
pixel_is $CX 291 255 255 0 || vs_fail "previous picture not kept"
# The caption and panes still describe the picture on screen.
wait_caption "big.png (3/6)" >/dev/null || vs_fail "the caption names the unreadable file"
expect_pane 0 " big.png (3/6)"
expect_pane 1 "Dimensions:  160 x 120"

echo "-- full screen in and out"
press LEFT "big.png (3/6)"
# Double clicks in and out leave the keys working.
D click "$MARK" $CX 291 2
expect_rect "0 0 1280 1024" "double click"
D click "$MARK" 640 512 2
expect_rect "200 200 1160 800" "second double click"
press LEFT "b.png (2/6)"

echo "-- delete asks, removes the file and shows the next"
press END LEFT "c.png (5/6)"
D key "$MARK" DELETE
text=$(D dialog "Vistrel Viewer" 6 20) || vs_fail "no question before deleting"
grep -qF "Are you sure want to delete c.png ?" <<<"$text" || vs_fail "question was \"$text\""
wait_caption "orient6.jpg (5/5)" >/dev/null || vs_fail "next picture not shown after deleting"
[ -e "$PICS/c.png" ] && vs_fail "c.png still on disk"

echo "-- the picture area ends where the status bar starts"
top=$(D panes "$MARK" | field top)
mkdir -p "$VS_TMP/edge"
convert -size 300x$((top - 49)) xc:'#00ff00' -size 300x1 xc:'#ff0000' -append "$VS_TMP/edge/edge.png"
vs_run "$OUT/vistrel.exe" "$(winpath "$VS_TMP/edge/edge.png")"
wait_caption "edge.png (1/1)" >/dev/null || vs_fail "edge.png not shown"
pixel_is $CX $((top - 1)) 255 0 0 $CX $((top - 2)) 0 255 0 || vs_fail "the picture's last row is not just above the status bar"
# Deleting the folder's last picture leaves no picture, and says so.
D key "$MARK" DELETE
D dialog "Vistrel Viewer" 6 >/dev/null || vs_fail "no question before deleting edge.png"
retry 50 eval '[ "$(caption)" = "$MARK - Orvanta" ]' || vs_fail "caption after the last picture went: \"$(caption)\""
expect_pane 0 " "
expect_pane 1 "Dimensions:  "
pixel_is $CX 291 92 139 180 || vs_fail "the deleted picture is still painted"

echo "-- Esc closes and the placement is written"
stop_viewer
expect_regs "placement" "$(printf '%s\n' 200 200 960 600 0)" "$KEY" PositionX "$KEY" PositionY "$KEY" WndWidth \
    "$KEY" WndHeight "$KEY" Maximizied

echo "-- a stored frame is used as it is; maximised is kept with the frame"
D regset "$KEY" PositionX dword 150
D regset "$KEY" WndWidth dword 1000
start_viewer "$WPICS\\a.png"
expect_rect "150 200 1150 800" "stored frame"
D show "$MARK" 3   # SW_MAXIMIZE
wait_zoomed || vs_fail "window did not maximise"
stop_viewer
expect_regs "maximised close" "$(printf '%s\n' 1 1000)" "$KEY" Maximizied "$KEY" WndWidth

echo "-- a maximised start fills the screen; full screen and back keeps the stored frame to restore to"
start_viewer "$WPICS\\a.png"
wait_zoomed || vs_fail "not started maximised"
[ "$(info | field client | cut -d' ' -f1)" = 1280 ] || vs_fail "maximised client is \"$(info | field client)\""
D key "$MARK" RETURN
expect_rect "0 0 1280 1024" "full screen from maximised"
D key "$MARK" ESCAPE
wait_zoomed || vs_fail "not maximised again after full screen"
D show "$MARK" 9   # SW_RESTORE
expect_rect "150 200 1150 800" "restored after full screen"
echo "-- closing in full screen stores the frame from before it"
D key "$MARK" RETURN
expect_rect "0 0 1280 1024" "full screen again"
D close "$MARK" || vs_fail "close failed"
D gone "$MARK" 30 || vs_fail "window still there after close"
wait "$APP" || vs_fail "viewer exited with $?"
expect_regs "closed in full screen" "$(printf '%s\n' 150 200 1000 600 0)" "$KEY" PositionX "$KEY" PositionY \
    "$KEY" WndWidth "$KEY" WndHeight "$KEY" Maximizied

echo "-- a start without a picture"
start_viewer
expect_rect "150 200 1150 800" "start without a picture"
[ "$(caption)" = "$MARK - Orvanta" ] || vs_fail "caption is \"$(caption)\""
stop_viewer

echo "-- a start on an unreadable file deep down: a short message, and no picture named"
deep=$PICS/$(printf 'folder-number-%02d/' $(seq 1 12))
mkdir -p "$deep" && cp "$PICS/broken.jpg" "$deep"
# The message comes before the window shows.
vs_run "$OUT/vistrel.exe" "$(winpath "$deep")broken.jpg" &
APP=$!
text=$(D dialog "Vistrel Viewer" 1 60) || vs_fail "no message for broken.jpg"
# The path shortened in its middle, its start and name kept.
[[ "$text" == "Cannot read picture file (Z:\tmp"*...*"\broken.jpg). The file may be corrupted!" ]] &&
    [ ${#text} -le 140 ] || vs_fail "message was \"$text\""
D wait "$MARK" 30 >/dev/null || vs_fail "main window did not appear"
[ "$(caption)" = "$MARK - Orvanta" ] || vs_fail "caption is \"$(caption)\""
expect_pane 0 " "

echo "-- a picture another program holds: left out, named in a message with the system's text below"
mkdir -p "$VS_TMP/held"
convert -size 40x30 xc:'#ff0000' "$VS_TMP/held/a.png"
convert -size 40x30 xc:'#0000ff' "$VS_TMP/held/b.png"
vs_run "$OUT/vsdriver.exe" lockfile "$(winpath "$VS_TMP/held/b.png")" "$(winpath "$VS_TMP/let-go")" >"$VS_TMP/locked" &
LOCKER=$!
retry 50 grep -q held "$VS_TMP/locked" || vs_fail "b.png was not held"
vs_run "$OUT/vistrel.exe" "$(winpath "$VS_TMP/held/a.png")"
text=$(D dialog "Vistrel Viewer" 1 30) || vs_fail "no message for the held b.png"
touch "$VS_TMP/let-go"
wait "$LOCKER"
[[ "$(sed -n 1p <<<"$text")" == *'\held\b.png' ]] && [ -n "$(sed -n 2p <<<"$text")" ] ||
    vs_fail "the message does not give the path and the system's text on lines of their own: \"$text\""
wait_caption "a.png (1/1)" >/dev/null || vs_fail "the held picture was listed"
stop_viewer
echo "PASS"
