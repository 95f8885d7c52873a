#!/bin/bash
# The auxiliary features end to end under Wine, driven as a user would:
# settings migration at start-up, Save As into another format, the
# settings dialog's associations in the registry, the update check against
# a local HTTP server, About and the web pages.
# usage: features_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u -o pipefail
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"
OLD12='Software\Orvanta\Vistrel Viewer\1.2'
CLASSES='Software\Classes'
EXTS='Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts'
SETTINGS="Settings - Vistrel Viewer"
RESULT="Update Check Result - Vistrel Viewer "

# After a dialog has gone the focus moves on: keys wait until it is back
# in the main window, so none is posted to a window being destroyed.
focus_home() { info | grep -q "^focus=.* in \"$MARK"; }
settle() { retry 50 focus_home || vs_fail "the focus did not come back to the main window: $(info | grep "^focus=")"; }
key() { settle && D key "$MARK" "$@"; }

# Web pages reach a fake browser of this prefix, which only logs them.
BROWSER_LOG=$VS_TMP/browser.log
printf '#!/bin/sh\necho "$*" >> "%s"\n' "$BROWSER_LOG" >"$VS_TMP/browser.sh" && chmod +x "$VS_TMP/browser.sh"
D regset 'Software\Wine\WineBrowser' Browsers sz "$VS_TMP/browser.sh" || vs_fail "fake browser not registered"
url_seen() { grep -qF "$1" "$BROWSER_LOG" 2>/dev/null; }
wait_url() { retry 100 url_seen "$1" || { echo "browser saw: $(cat "$BROWSER_LOG" 2>/dev/null)" >&2; return 1; }; }

# The update server: a local HTTP server on a free port.
WWW=$VS_TMP/www
mkdir -p "$WWW/swinfo"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
PORT=$(free_port)
python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$WWW" >"$VS_TMP/http.log" 2>&1 &
HTTP=$!
trap 'kill $HTTP 2>/dev/null; vs_wine_stop' EXIT
DEAD_PORT=$(free_port)
serve() { printf '%s' "$1" >"$WWW/swinfo/vsvinfo.xml"; }

mkdir -p "$VS_TMP/saved"
convert -size 320x240 xc:'#ff0000' -quality 95 "$PICS/red.jpg"
# Stored sideways: red left, blue right, EXIF orientation 6.
convert -size 200x100 xc:'#ff0000' -size 200x100 xc:'#0000ff' +append -quality 95 "$PICS/orient6.jpg"
exiftool -q -overwrite_original -n -Orientation=6 "$PICS/orient6.jpg" || vs_fail "exiftool failed"
WSAVED=$(winpath "$VS_TMP/saved")
settings() {  # ITEM BUTTON [BOX STATE]: the settings dialog with list item ITEM clicked
    D menu "$MARK" 118
    D listclick "$SETTINGS" 1007 "$1" || vs_fail "no settings dialog"
    [ $# -lt 4 ] || D check "$SETTINGS" "$3" "$4" || vs_fail "no box $3"
    D dialog "$SETTINGS" "$2" >/dev/null || vs_fail "settings button $2"
}
save_as() {  # NAME: Save As into the saved folder, once the file is there
    D key "$MARK" S
    D settext "Save As" 1148 "$WSAVED\\$1" || vs_fail "no Save As dialog"
    D dialog "Save As" 1 >/dev/null || vs_fail "Save As dialog did not take the name"
    # Written beside and renamed: once there, the file is complete.
    retry 50 test -s "$VS_TMP/saved/$1" || vs_fail "$1 not written"
}

echo "-- an older version's settings are copied at start-up"
D regset "$OLD12" Legacy sz "first" && D regset "$OLD12\\Recent" Entry dword 7 || vs_fail "regset"
start_viewer "$WPICS\\red.jpg"
expect_regs "migration" "$(printf '%s\n' first 7 1)" "$KEY" Legacy "$KEY\\Recent" Entry "$OLD12" "OLD Reg Copied"

echo "-- Save As writes the shown JPEG as PNG"
save_as copy.png
[ "$(identify -format '%m %w %h' "$VS_TMP/saved/copy.png")" = "PNG 320 240" ] || vs_fail "copy.png is not a 320x240 PNG"
rgb=$(convert "$VS_TMP/saved/copy.png" -format '%[fx:int(255*p{160,120}.r)] %[fx:int(255*p{160,120}.g)] %[fx:int(255*p{160,120}.b)]' info:)
read -r r g b <<<"$rgb"
[ "$r" -ge 230 ] && [ "$g" -le 25 ] && [ "$b" -le 25 ] || vs_fail "copy.png centre is $rgb, not red"
ls "$VS_TMP/saved" | grep -q tmp && vs_fail "a temporary file was left behind"

echo "-- associating TGA: a click and Space toggle a type, the arrows only move"
D menu "$MARK" 118
D listclick "$SETTINGS" 1007 5 || vs_fail "no settings dialog"
D key "$MARK" DOWN UP SPACE SPACE
shot settings-keys "$SETTINGS"
D dialog "$SETTINGS" 1 >/dev/null || vs_fail "settings OK"
expect_regs "TGA association" "$(printf '%s\n' VSViewer.tga VSViewer.tga 64 1)" "$CLASSES\\.tga" "" "$EXTS\\.tga" Progid "$KEY" Extension "$KEY" AutoRotate
command=$(D reg "$CLASSES\\VSViewer.tga\\shell\\open\\command" "" "$CLASSES\\VSViewer.tga\\DefaultIcon" "")
[[ "$command" == \"*vistrel.exe*\"\ \"%1\"$'\n'*vistrel.exe*,0 ]] || vs_fail "open command and icon are \"$command\""

echo "-- unchecking JPEG removes its associations, the ProgID stays"
settings 0 1
expect_regs "JPEG association" "$(printf 'VSViewer%s\n' .jpg .jif)" "$CLASSES\\.jpg" "" "$CLASSES\\.jif" ""
# The sideways picture, shown upright while "AutoRotate" is on.
key LEFT
pixel_is $CX 241 255 0 0 || vs_fail "orient6.jpg not shown upright"
settings 0 1 1019 0
expect_regs "JPEG disassociation" "$(printf '%s\n' "" "" "<none>" VSViewer.tga 64 0)" "$CLASSES\\.jpg" "" \
    "$CLASSES\\.jif" "" "$EXTS\\.jpg" Progid "$CLASSES\\.tga" "" "$KEY" Extension "$KEY" AutoRotate
D reg "$CLASSES\\VSViewer.jpg\\shell\\open\\command" "" | grep -q vistrel.exe || vs_fail "the ProgID key went as well"
# Switching "AutoRotate" off shows the picture again as stored at once.
pixel_is $((CX - 80)) 291 255 0 0 $((CX + 80)) 291 0 0 255 || vs_fail "not shown as stored after AutoRotate went off"

echo "-- open with: the program picker, then the programs registered for .jpg"
key E
D dialog "Select program to open with" 2 >/dev/null || vs_fail "no program picker without registered programs"
D gone "Select program to open with" 10 || vs_fail "program picker stayed"
# The classes root of this Wine is the machine's part.
"$VS_WINE" reg add 'HKCR\Foo.jpg\shell\open\command' /ve /d '"C:\windows\notepad.exe" "%1"' /f >/dev/null 2>&1 ||
    vs_fail "class not registered"
key E
D dialog "External Program - Vistrel Viewer" 1017 >/dev/null || vs_fail "no program list"
# Notepad names its file once it has read it.
D wait "Notepad" 30 >/dev/null || vs_fail "the program did not start"
notepad_has_it() { [[ "$(D wait "Notepad" 5 | field caption)" == *orient6.jpg* ]]; }
retry 50 notepad_has_it || vs_fail "the program did not get the picture: \"$(D wait "Notepad" 5 | field caption)\""
D close "Notepad"
D gone "Notepad" 10 || vs_fail "Notepad stayed"

echo "-- Cancel writes nothing"
settings 1 2
expect_regs "Cancel" "$(printf '%s\n' "<none>" 64)" "$CLASSES\\.bmp" "" "$KEY" Extension

echo "-- update check against the local server"
D regset "$KEY" UpdateHost sz "127.0.0.1:$PORT"
update_check() {  # TITLE BUTTON: prints the result dialog's texts
    D button "$MARK" 17
    D dialog "$1" "$2" 30 && D gone "Update Check Result" 10
}
# DOCUMENT|TITLE|BUTTON|TEXTS...: each text must be in the result.
while IFS='|' read -r -u 3 doc title button want1 want2; do
    serve "$(printf '%b' "$doc")"
    text=$(update_check "$title" "$button") || vs_fail "no result for $doc"
    for want in "$want1" "$want2"; do
        [ -z "$want" ] || grep -qF "$want" <<<"$text" || vs_fail "$doc: \"$text\""
    done
done 3<<EOF
<?xml version="1.0"?>\n<info>\n  <version>2.0</version>\n  <build>071130</build>\n</info>|$RESULT|1009|You already have the latest version
<?xml version="1.0"?><info><version>2.1</version><build>071130</build></info>|$RESULT|1008|Newer version of the program,|2.1 (build 071130)
this is <not xml|${RESULT% }|8|problem on route between your ISP and 127.0.0.1:$PORT server
<?xml version="1.0"?><info/>|${RESULT% }|8
<info><version>9.0</version><build>999999</build></info>|${RESULT% }|8
EOF
wait_url "http://127.0.0.1:$PORT/vistrel/viewer/index.html" || vs_fail "download page not opened"
D regset "$KEY" UpdateHost sz "127.0.0.1:$DEAD_PORT"
text=$(update_check "$RESULT" 1009) || vs_fail "no result for an unreachable server"
grep -qF "Checking for update failed!" <<<"$text" || vs_fail "unreachable: \"$text\""
D regset "$KEY" UpdateHost sz "127.0.0.1:$PORT"
D wait "$MARK" 5 >/dev/null || vs_fail "viewer gone after the update checks"

echo "-- H opens the help page"
key H
wait_url "http://127.0.0.1:$PORT/vistrel/viewer/help/index.html" || vs_fail "help page not opened"

echo "-- the menu's item under the pointer is drawn in the system's highlight colours"
D button "$MARK" 14
rect=$(D popup "$MARK" 0 22 "$LOGS/menu-hover.bmp" | field rect) || vs_fail "menu not shown"
echo "screenshot: $LOGS/menu-hover.bmp"
read -r l t r b <<<"$rect"
# The text against its fill: white on light grey (0.26) is hard to read.
contrast=$(convert "$LOGS/menu-hover.bmp" -crop 60x$((b - t - 6))+$((l + 25))+$((t + 3)) -colorspace gray \
    -format "%[fx:maxima.intensity - minima.intensity]" info:)
awk "BEGIN { exit !($contrast > 0.35) }" || vs_fail "hovered menu item's text hard to read (contrast $contrast)"
settle

echo "-- About shows the version line and opens the product family page"
D menu "$MARK" 115
text=$(D dialog "About Vistrel Viewer" 256) || vs_fail "no About dialog"
grep -qx "Vistrel Viewer 2.0 (build 071130) " <<<"$text" || vs_fail "About texts: \"$text\""
# The product's picture: its landscape's sun and hills, not an empty band.
shot about "About Vistrel Viewer" || vs_fail "About not saved"
for colour in "rgb(250,210,60)" "rgb(70,150,70)"; do
    share=$(convert "$LOGS/about.bmp" -fuzz 8% -fill black +opaque "$colour" -fill white -opaque "$colour" \
        -colorspace gray -format "%[fx:mean]" info:)
    awk "BEGIN { exit !($share > 0.0002) }" || vs_fail "About shows no $colour: its picture is missing"
done
wait_url "http://127.0.0.1:$PORT/vistrel/" || vs_fail "family page not opened"
D dialog "About Vistrel Viewer" 1 >/dev/null && D gone "About Vistrel Viewer" 10 || vs_fail "About did not close"

echo "-- names outside the code page: handed over, in the folder list, saved as"
INTL=$VS_TMP/intl
mkdir -p "$INTL"
convert -size 320x240 xc:'#ff0000' "$INTL/é.png"
convert -size 320x240 xc:'#00ff00' "$INTL/привет.jpg"
convert -size 320x240 xc:'#0000ff' "$INTL/日本.png"
settle
vs_run "$OUT/vistrel.exe" "$(winpath "$INTL/привет.jpg")" || vs_fail "hand-over of привет.jpg failed"
wait_caption "привет.jpg (2/3)" >/dev/null || vs_fail "привет.jpg not shown"
pixel_is $CX 291 0 255 0 || vs_fail "привет.jpg not painted"
key RIGHT
wait_caption "日本.png (3/3)" >/dev/null || vs_fail "日本.png not reached"
expect_pane 0 " 日本.png (3/3)"
save_as "日本-копия.jpg"
[ "$(identify -format '%m %w %h' "$VS_TMP/saved/日本-копия.jpg")" = "JPEG 320 240" ] || vs_fail "日本-копия.jpg is not a JPEG"
if D dialog "Vistrel Viewer" 1 1 >/dev/null 2>&1; then vs_fail "a message about a name"; fi

echo "-- the remembered Save As folder"
settle
stop_viewer
expect_regs "Save As folder" "$WSAVED\\" "$KEY" SaveAsDir
grep -q "GET /swinfo/vsvinfo.xml" "$VS_TMP/http.log" || vs_fail "the server saw no request"
echo "PASS"
