#!/bin/bash
# The main window's commands end to end: the toolbar's buttons and their identifiers without the editor, the buttons
# acting as keys, the sort items of the context menu and their persistence, the open dialog's multiple selection, and
# OLE drops of a folder and of files.
# usage: commands_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"

# Five pictures of different sizes and dates, and a second folder.
OTHER=$VS_TMP/other
mkdir -p "$OTHER"
# a newest and smallest ... e oldest and largest; noise keeps the sizes apart.
i=0
for n in a b c d e; do
    i=$((i + 1))
    convert -size $((40 * i))x30 xc:'#3080c0' +noise Random "$PICS/$n.png"
    touch -d "@$((1700000000 - 3600 * i))" "$PICS/$n.png"
done
convert -size 64x48 xc:'#ff0000' "$OTHER/red.bmp"
convert -size 64x48 xc:'#00ff00' "$OTHER/green.tga"
echo "not a picture" > "$OTHER/readme.txt"
WOTHER=$(winpath "$OTHER")

D regset "$KEY" InitDir sz "$WPICS"
echo "-- the toolbar without the editor"
start_viewer "$WPICS\\c.png"
wait_caption "c.png (3/5)" >/dev/null || vs_fail "first picture"
rows=$(D buttons "$MARK")
# id x width enabled visible, left to right.
expected=$(tr ';' '\n' <<<"7 0 40 1 1;8 40 40 1 1;9 80 30 1 1;10 110 30 1 1;11 140 40 1 1;\
12 180 40 1 1;13 220 6 0 1;14 226 40 1 1;15 266 40 1 1;16 306 6 0 1;\
0 312 40 0 1;1 352 40 0 1;2 392 40 0 1;3 432 40 0 1;4 472 40 0 1;\
5 512 40 0 1;6 552 40 0 1;17 592 79 1 1;18 671 6 0 1;19 677 217 1 1")
[ "$rows" = "$expected" ] || vs_fail "toolbar buttons: $(diff <(echo "$expected") <(echo "$rows"))"
# The first start's window shows the whole toolbar, banner included.
read -r _ x w _ <<<"$(tail -n 1 <<<"$rows")"
[ $((x + w)) -le "$(info | field client | cut -d' ' -f1)" ] || vs_fail "toolbar cut off: it ends at $((x + w))"

echo "-- the Previous, Next and Full screen buttons act as the keys"
D button "$MARK" 10
wait_caption "d.png (4/5)" >/dev/null || vs_fail "Next button"
D button "$MARK" 9 && D button "$MARK" 9
wait_caption "b.png (2/5)" >/dev/null || vs_fail "Previous button"
D button "$MARK" 11
expect_rect "0 0 1280 1024" "Full screen button"
D key "$MARK" ESCAPE
expect_rect "200 200 1160 800" "Esc after the Full screen button"

echo "-- sort by date, then by size"
D menu "$MARK" 18
wait_pane 3 "Sort by: DATE ASC" || vs_fail "sort by date"
wait_caption "b.png (4/5)" >/dev/null || vs_fail "date order"
D menu "$MARK" 19
wait_pane 3 "Sort by: SIZE ASC" || vs_fail "sort by size"
wait_caption "b.png (2/5)" >/dev/null || vs_fail "size order"
stop_viewer
expect_regs "sort" "$(printf '%s\n' 19 1)" "$KEY" SortType "$KEY" SortOrder

echo "-- the sort survives a restart"
start_viewer "$WPICS\\e.png"
wait_caption "e.png (5/5)" >/dev/null || vs_fail "size order after restart"
wait_pane 3 "Sort by: SIZE ASC" || vs_fail "sort pane after restart"

echo "-- the open dialog with the viewer's filter; a multiple selection lists only those pictures"
D key "$MARK" O
types=$(D combo "Select image(s)" 1136) || vs_fail "no open dialog"
grep -qF "*.tga" <<<"$types" || vs_fail "the filter is not the viewer's: $types"
D settext "Select image(s)" 1148 '"d.png" "a.png" "c.png"' || vs_fail "no open dialog"
D dialog "Select image(s)" 1 >/dev/null || vs_fail "open dialog did not take the selection"
wait_caption "d.png (3/3)" >/dev/null || vs_fail "selection not listed alone, sorted by size"
press HOME "a.png (1/3)"

echo "-- a dropped folder opens its pictures"
out=$(D drop "$MARK" "$WOTHER")
grep -q "effect=1" <<<"$out" || vs_fail "folder drop refused: $out"
wait_caption_re '(red.bmp|green.tga) \([12]/2\)' || vs_fail "dropped folder not opened"

echo "-- dropped files form a list of exactly those"
out=$(D drop "$MARK" "$WPICS\\b.png" "$WOTHER\\readme.txt" "$WPICS\\e.png")
grep -q "effect=1" <<<"$out" || vs_fail "file drop refused: $out"
wait_caption "b.png (1/2)" >/dev/null || vs_fail "dropped files not listed alone"

stop_viewer
expect_regs "InitDir after a multiple selection" "$(winpath "$VS_TMP")\\" "$KEY" InitDir
echo "commands end to end: all passed"
