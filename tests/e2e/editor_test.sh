#!/bin/bash
# The editor integration end to end. Without an editor the editor commands
# do nothing. With the stand-in editor registered (five functions) each
# kind of result changes the shown picture, the folder list and the files
# as promised: in-place change, replacing result, new file, no result file,
# rename; editor errors, a failed run and a too-old editor change nothing;
# a user's own temp.bmp in My Pictures survives the toolbar's bitmaps.
# usage: editor_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u -o pipefail
. "$(dirname "$0")/viewerlib.sh"
# A private home: Wine links My Pictures to it, and the toolbar writes the
# editor's bitmaps there for a moment.
VS_HOME=$(mktemp -d "${TMPDIR:-/tmp}/vs-home.XXXXXX")
export HOME=$VS_HOME
vs_viewer_begin "$(cd "$1" && pwd)" "$2" "$3"
trap 'vs_wine_stop; rm -rf "$VS_HOME"' EXIT

CLASS='Software\Classes\CLSID\{C7BBC0FE-7D11-4E6A-8A25-F4CED305873B}\InprocServer32'
VERSION_KEY='Software\Classes\CLSID\{0BT342-F423-GH322-342GH-0932324723}\misc'
STANDIN='Software\Orvanta\Vistrel Pro Stand-in'

# Steps right until NAME is shown: the list's order after a re-sort is not
# this test's business.
goto_picture() {
    local i seen
    for i in $(seq 1 12); do
        seen=$(caption)
        [[ "$seen" == *"- $1 ("* ]] && return 0
        D key "$MARK" RIGHT
        # One step at a time: the next key only once this one has shown.
        retry 50 eval '[ "$(caption)" != "$seen" ]'
    done
    vs_fail "$1 not in the list"
}
file_size() { identify -format '%w %h' "$1"; }
# No message box of the viewer within a second and a half; its texts go to stderr.
no_message() { ! D dialog "Vistrel Viewer" 1 1.5 >&2 2>/dev/null; }
ctrl() { D ctrlkey "$MARK" "$1" || vs_fail "Ctrl+$1 could not be sent"; }
# Before checking that something did not happen: time for it to happen.
settle() { sleep 1; }
size_is() { [ "$(file_size "$1")" = "$2" ]; }
wait_size() { retry 25 size_is "$@"; }  # FILE "W H"

# The pictures, named in list order: two-coloured ones show turns and
# mirrors, solid ones grey and negative.
convert -size 100x100 xc:'#ff0000' -size 100x100 xc:'#0000ff' +append "$PICS/a.png"
convert -size 320x240 xc:'#00ff00' "$PICS/b.png"
convert -size 80x120 xc:'#ffff00' -size 80x120 xc:'#000000' +append -type truecolor "BMP3:$PICS/c.bmp"
convert -size 320x240 xc:'#c86432' "$PICS/d.png"
convert -size 320x240 xc:'#ffffff' "$PICS/e.png"
MYPICS="$WINEPREFIX/drive_c/users/$(id -un)/Pictures"
[ -d "$MYPICS" ] || vs_fail "no My Pictures folder at $MYPICS"

echo "-- without an editor the editor commands do nothing"
start_viewer "$WPICS\\a.png"
wait_caption "Orvanta - a.png (1/5)" || vs_fail "first picture not shown"
before=$(md5sum <"$PICS/a.png")
ctrl T
ctrl N
D button "$MARK" 0
settle
no_message || vs_fail "a message appeared without an editor"
[ "$(caption)" = "Vistrel Viewer - v2.0 - Orvanta - a.png (1/5)" ] || vs_fail "caption changed: $(caption)"
[ "$(md5sum <"$PICS/a.png")" = "$before" ] || vs_fail "a.png changed without an editor"
[ "$(ls "$PICS" | wc -l)" = 5 ] || vs_fail "files appeared without an editor: $(ls "$PICS")"
stop_viewer

echo "-- the stand-in registers itself per user with its version"
WDLL="$(winpath "$OUT")\\vsedit.dll.so"
"$VS_WINE" regsvr32 /s "$WDLL" || vs_fail "regsvr32 failed"
expect_regs "registration" "$(printf '%s\n' "$WDLL" 2.3 071130)" "$CLASS" '' "$VERSION_KEY" version \
    "$VERSION_KEY" build

# A picture of the user's own under the name the toolbar uses for a moment.
convert -size 7x5 xc:'#123456' "BMP3:$MYPICS/temp.bmp"
own=$(md5sum <"$MYPICS/temp.bmp")

echo "-- the editor's buttons carry its bitmaps"
start_viewer "$WPICS\\a.png"
wait_caption "a.png (1/5)" || vs_fail "first picture not shown"
[ "$(md5sum <"$MYPICS/temp.bmp")" = "$own" ] || vs_fail "the user's temp.bmp was overwritten"
[ "$(ls "$MYPICS" | wc -l)" = 1 ] || vs_fail "bitmap files left in My Pictures: $(ls "$MYPICS")"
rows=$(D buttons "$MARK")
ids=$(awk '{ printf "%s ", $1 }' <<<"$rows")
[ "$ids" = "5 6 7 8 9 10 11 12 13 14 0 1 2 3 4 15 16 17 " ] || vs_fail "toolbar with five functions: $ids"
enabled=$(awk '$1 < 5 { printf "%s", $4 }' <<<"$rows")
[ "$enabled" = 11111 ] || vs_fail "editor buttons not enabled with a picture shown: $enabled"
# Each stand-in function's bitmap has its colour at the centre of a frame.
x() { awk -v id="$1" '$1 == id { print $2 + 20 }' <<<"$rows"; }
pixel_is "$(x 0)" 24 200 40 40 "$(x 1)" 24 90 90 90 "$(x 2)" 24 40 120 200 "$(x 3)" 24 20 20 20 "$(x 4)" 24 40 160 60 ||
    vs_fail "the editor buttons do not show their bitmaps"

echo "-- Ctrl+T turns the picture in place"
ctrl T
wait_pane 1 "Dimensions:  100 x 200" || vs_fail "turned picture not shown"
expect_pane 3 "Sort by: NAME ASC"
[ "$(caption)" = "Vistrel Viewer - v2.0 - Orvanta - a.png (1/5)" ] || vs_fail "caption after turning: $(caption)"
pixel_is $CX 241 255 0 0 $CX 341 0 0 255 || vs_fail "turned picture not shown red on top, blue below"

echo "-- Ctrl+R: a replacing result takes the picture's place in the list"
press RIGHT "b.png (2/5)"
ctrl R
wait_caption "Orvanta - b_grey.png (2/5)" || vs_fail "grey result not shown in b.png's place"
pixel_is $CX 291 150 150 150 || vs_fail "grey result not painted"

echo "-- editor button 2: a new file joins the list and is shown"
press RIGHT "c.bmp (3/5)"
D button "$MARK" 2
wait_caption_re "Orvanta - c_mirror\.bmp \([0-9]/6\)" || vs_fail "new file not added and shown"
pixel_is $((CX - 60)) 291 0 0 0 $((CX + 60)) 291 255 255 0 || vs_fail "mirrored picture not shown black left, yellow right"
# The same result again: the listed file is shown, not listed twice.
goto_picture c.bmp
ctrl F
wait_caption_re "Orvanta - c_mirror\.bmp \([0-9]/6\)" || vs_fail "repeated new file listed twice or not shown"

echo "-- Ctrl+E: a result without a file shows the changed picture again"
goto_picture d.png
pixel_is $CX 291 200 100 50 || vs_fail "d.png not painted"
shown=$(caption)
ctrl E
pixel_is $CX 291 55 155 205 || vs_fail "negative not shown"
[ "$(caption)" = "$shown" ] || vs_fail "caption after negative: $(caption)"

echo "-- Ctrl+N renames the picture in its folder"
goto_picture e.png
ctrl N
wait_caption_re "Orvanta - e_renamed\.png \([0-9]/6\)" || vs_fail "renamed picture not shown in its place"
shown=$(caption)
press RIGHT LEFT "${shown#*Orvanta - }"

echo "-- editor errors change nothing"
wait_pane 1 "Dimensions:  320 x 240" || vs_fail "e_renamed.png size"
D regset "$STANDIN" FailingSlot dword 8 || vs_fail "regset"
ctrl T
# The editor turned the file, but its result could not be read.
wait_size "$PICS/e_renamed.png" "240 320" || vs_fail "stand-in did not run"
settle
[ "$(pane 1)" = "Dimensions:  320 x 240" ] || vs_fail "picture re-shown after a GetResult error"
D regset "$STANDIN" FailingSlot dword 7 || vs_fail "regset"
ctrl T
settle
[ "$(file_size "$PICS/e_renamed.png")" = "240 320" ] || vs_fail "file changed after a Run error"
[ "$(caption)" = "$shown" ] || vs_fail "caption after errors: $(caption)"
no_message || vs_fail "a message appeared for an editor error"
D regset "$STANDIN" FailingSlot dword 0 || vs_fail "regset"

echo "-- a failed run (unreadable picture) changes nothing"
goto_picture d.png
pixel_is $CX 291 55 155 205 || vs_fail "d.png's negative not shown"
shown=$(caption)
head -c 3000 /dev/urandom >"$PICS/d.png"
spoilt=$(md5sum <"$PICS/d.png")
ctrl E
no_message || vs_fail "a message appeared for a failed run"
[ "$(md5sum <"$PICS/d.png")" = "$spoilt" ] || vs_fail "unreadable file was changed"
pixel_is $CX 291 55 155 205 || vs_fail "shown picture changed after a failed run"
[ "$(caption)" = "$shown" ] || vs_fail "caption after a failed run: $(caption)"

echo "-- an editor older than build 071130 is not run"
press HOME "a.png (1/6)"
turned=$(md5sum <"$PICS/a.png")
D regset "$VERSION_KEY" build sz 071129
ctrl T
text=$(D dialog " Vistrel Viewer" 2 10) || vs_fail "no update dialog for build 071129"
grep -qF "For this option to work  please download the latest" <<<"$text" || vs_fail "update dialog said \"$text\""
[ "$(md5sum <"$PICS/a.png")" = "$turned" ] || vs_fail "too-old editor was run"
D regset "$VERSION_KEY" build sz 071130

echo "-- in the thumbnail view the result is not shown at once"
wait_pane 1 "Dimensions:  100 x 200" || vs_fail "a.png size"
D key "$MARK" V
wait_focus SysListView32 || vs_fail "the thumbnail view did not take the focus"
ctrl T
wait_size "$PICS/a.png" "200 100" || vs_fail "Ctrl+T in the thumbnail view did not run"
# The item and the panes show the file as it is now: 200 x 100, turned
# twice, so blue left and red right.
wait_pane 1 "Dimensions:  200 x 100" || vs_fail "the status still shows the old size"
read -r cx cy < <(D thumbs "$MARK" | awk '$1 == "item=0" { print int(($3 + $5) / 2), int(($4 + $6) / 2) }')
pixel_is $((cx - 40)) "$cy" 0 0 255 $((cx + 40)) "$cy" 255 0 0 || vs_fail "the thumbnail is the one from before the edit"
D key "$MARK" V
wait_pane 1 "Dimensions:  200 x 100" || vs_fail "picture view does not show the result"

stop_viewer
[ "$(md5sum <"$MYPICS/temp.bmp")" = "$own" ] || vs_fail "the user's temp.bmp changed"

echo "-- an editor command while the thumbnails are being made answers at once"
# The worker starts with the viewer and is busy for seconds on the large
# pictures after a.png: the turned picture must show while it still is.
BUSY=$VS_TMP/busy
mkdir -p "$BUSY"
cp "$PICS/a.png" "$BUSY/a.png"
slow_pngs "$BUSY/b_big" 4
start_viewer "$(winpath "$BUSY")\\a.png"
wait_caption "a.png (1/5)" || vs_fail "a.png with the large pictures"
ctrl T
wait_pane 1 "Dimensions:  100 x 200" || vs_fail "the turn did not show while the thumbnails were being made"
last=$(D thumbs "$MARK" | awk '$1 == "item=4" { print $2 }')
[ "${last:-0}" -lt 0 ] || vs_fail "the turn showed only after the thumbnail worker had finished (item 4: ${last:-none})"
stop_viewer

echo "-- an editor that cannot tell its functions counts as absent"
D regset "$STANDIN" FailingSlot dword 10 || vs_fail "regset"
start_viewer "$WPICS\\a.png"
wait_caption "a.png (1/7)" || vs_fail "a.png at the last start"
ctrl T
settle
[ "$(file_size "$PICS/a.png")" = "200 100" ] || vs_fail "Ctrl+T ran an editor the toolbar does not show"
stop_viewer
echo "editor end to end: all passed"
