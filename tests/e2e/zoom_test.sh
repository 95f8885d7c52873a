#!/bin/bash
# Zoom and pan in the picture view end to end: the zoom keys, Ctrl + wheel holding the point under the pointer, the
# drag-out at the fitted view, panning by drag and by Ctrl + arrows, steps back to the fitted view, zoom in full screen,
# and large JPEGs' full decodes swapped in, one stored sideways.
# usage: zoom_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"

# grid.png: 1600 x 1200 in 4 x 4 cells of 400 x 300, each its own colour.
COLOURS=("255 0 0" "0 255 0" "0 0 255" "255 255 0" "255 0 255" "0 255 255" "128 0 0" "0 128 0"
    "0 0 128" "128 128 0" "128 0 128" "0 128 128" "255 128 0" "255 255 255" "0 0 0" "128 255 0")
python3 - "$PICS/grid.ppm" "${COLOURS[@]}" <<'PY' || vs_fail "python"
import sys
colours = [bytes(int(v) for v in c.split()) for c in sys.argv[2:]]
rows = [b"".join(colours[r * 4 + c] * 400 for c in range(4)) for r in range(4)]
with open(sys.argv[1], "wb") as f:
    f.write(b"P6 1600 1200 255\n" + b"".join(rows[y // 300] for y in range(1200)))
PY
convert "$PICS/grid.ppm" "$PICS/grid.png" && rm "$PICS/grid.ppm"
# stripes.jpg: 2600 x 2100, red left and blue right, with a band of one-pixel black and white columns across the middle
# that only the full decode keeps (the screen's decode is halved).
convert -size 1300x2100 xc:'#ff0000' -size 1300x2100 xc:'#0000ff' +append \
    \( -size 2x1 xc:black -fill white -draw 'point 1,0' -write mpr:pair +delete \) \
    -tile mpr:pair -draw 'rectangle 1000,900 1600,1200' -quality 100 -sampling-factor 1x1 "$PICS/stripes.jpg" ||
    vs_fail "convert"

# cell COL ROW: the colour of grid.png's cell.
cell() { echo "${COLOURS[$(($2 * 4 + $1))]}"; }
# key_pane KEY TEXT WHY: the key, then pane 1 must come to read TEXT.
key_pane() { D key "$MARK" "$1"; wait_pane 1 "$2" || vs_fail "$3"; }
# Two neighbouring pixels of a row, one dark and one light: the stripes at one picture pixel per screen pixel.
stripes_at() {
    local a b
    a=$(D pixel "$MARK" "$1" "$2" | cut -d' ' -f1)
    b=$(D pixel "$MARK" $(($1 + 1)) "$2" | cut -d' ' -f1)
    [ $((a > b ? a - b : b - a)) -gt 150 ]
}

start_viewer "$WPICS\\grid.png"
wait_caption "grid.png (1/2)" >/dev/null || vs_fail "grid.png not shown"
expect_pane 1 "Dimensions:  1600 x 1200"
# The view: the picture control below the toolbar, above the status bar.
VW=$(info | field client | cut -d' ' -f1)
VH=$(($(D panes "$MARK" | field top) - 48))
CX=$((VW / 2))
CY=$((48 + VH / 2))

echo "-- the keys: in, out, actual size, fitted"
key_pane 1 "Dimensions:  1600 x 1200  (100%)" "1 did not show the actual size"
# At 1:1 about the picture's centre, the first column ends 400 pixels left of the view's centre.
pixel_is $((CX - 420)) $((CY - 150)) $(cell 0 1) $((CX - 380)) $((CY - 150)) $(cell 1 1) \
    $((CX + 200)) $((CY + 150)) $(cell 2 2) || { shot zoom-actual; vs_fail "the actual size is not 1:1 about the centre"; }
# KEY:ZOOM, each key from the zoom before it; no zoom is the fitted view.
for step in ADD:125% SUBTRACT:100% OEM_MINUS:80% OEM_PLUS:100% 0: MULTIPLY:100% DIVIDE: 1:100% OEM_2:; do
    key=${step%%:*}
    zoom=${step#*:}
    key_pane "$key" "Dimensions:  1600 x 1200${zoom:+  ($zoom)}" "$key did not give ${zoom:-the fitted view}"
done
pixel_is 5 "$CY" 92 139 180 || vs_fail "the fitted picture is not centred with the background beside it"

echo "-- Ctrl + wheel zooms about the pointer; the plain wheel steps"
key_pane 1 "Dimensions:  1600 x 1200  (100%)" "1"
# The pointer 20 pixels left of column 3 (400 right of the centre): a zoom about the centre would take it out of view.
P="$((CX + 380)) $((CY - 100))"
pixel_is $((CX + 390)) $((CY - 100)) $(cell 2 1) $((CX + 410)) $((CY - 100)) $(cell 3 1) || vs_fail "before the wheel"
D wheel "$MARK" $P 240 ctrl || vs_fail "wheel"
D wheel "$MARK" $P 120 ctrl || vs_fail "wheel"
wait_pane 1 "Dimensions:  1600 x 1200  (195%)" || vs_fail "three notches of Ctrl + wheel are not 1.25 cubed"
pixel_is $((CX + 409)) $((CY - 100)) $(cell 2 1) $((CX + 429)) $((CY - 100)) $(cell 3 1) ||
    { shot zoom-wheel; vs_fail "the point under the pointer moved"; }
D wheel "$MARK" $P -360 ctrl || vs_fail "wheel"
wait_pane 1 "Dimensions:  1600 x 1200  (100%)" || vs_fail "Ctrl + wheel back"
key_pane 0 "Dimensions:  1600 x 1200" "0"
D wheel "$MARK" "$CX" "$CY" -120 || vs_fail "wheel"
wait_caption "stripes.jpg (2/2)" >/dev/null || vs_fail "the plain wheel no longer steps"
press LEFT "grid.png (1/2)"

echo "-- the fitted view still drags the file out"
arrow=$(D pointer "$MARK" "$CX" "$CY" | field cursor)
out=$(D drag "$MARK" "$CX" "$CY") || vs_fail "the pointer was not let go after the drag: $out"
grep -q "capture=none" <<<"$out" && vs_fail "pressing on the fitted picture started no drag"
grep -q "capture=#32770" <<<"$out" && vs_fail "the main window held the pointer at the fitted view"
wait_caption "grid.png (1/2)" >/dev/null || vs_fail "the viewer took its own drag"

echo "-- a drag pans a zoomed picture, never past its edges"
key_pane 1 "Dimensions:  1600 x 1200  (100%)" "1"
out=$(D pan "$MARK" "$CX" "$CY" 300 200) || vs_fail "pan: $out"
[ "$(field cursor <<<"$out")" != "$arrow" ] || vs_fail "the cursor while panning is the fitted view's"
# The centre shows picture point (500, 400) now.
pixel_is $((CX - 120)) "$CY" $(cell 0 1) $((CX - 80)) "$CY" $(cell 1 1) || { shot zoom-pan; vs_fail "the drag did not pan by its distance"; }
for i in 1 2 3; do D pan "$MARK" "$CX" "$CY" -400 -400 >/dev/null || vs_fail "pan"; done
R=$((VW - 3)) B=$((48 + VH - 3))
pixel_is "$R" "$B" $(cell 3 3) $((VW - 395)) "$B" $(cell 3 3) $((VW - 405)) "$B" $(cell 2 3) ||
    { shot zoom-bottom-right; vs_fail "not clamped at the bottom right"; }

echo "-- Ctrl + arrows pan by an eighth of the view"
# Column 3 begins 400 pixels from the right edge; an eighth to the left brings column 2 under that point.
X=$((VW - 400 + VW / 16))
pixel_is "$X" "$B" $(cell 3 3) || vs_fail "before Ctrl + Left"
D ctrlkey "$MARK" LEFT
pixel_is "$X" "$B" $(cell 2 3) || vs_fail "Ctrl + Left did not pan"
D ctrlkey "$MARK" RIGHT
pixel_is "$X" "$B" $(cell 3 3) "$R" "$B" $(cell 3 3) || vs_fail "Ctrl + Right did not pan back"
D ctrlkey "$MARK" UP
Y=$((48 + VH - 300 + VH / 16))
pixel_is "$R" "$Y" $(cell 3 2) || vs_fail "Ctrl + Up did not pan"
D ctrlkey "$MARK" DOWN
pixel_is "$R" "$Y" $(cell 3 3) || vs_fail "Ctrl + Down did not pan"

echo "-- every step returns to the fitted view"
D key "$MARK" RIGHT
wait_pane 1 "Dimensions:  2600 x 2100" || vs_fail "the next picture came zoomed"
key_pane 1 "Dimensions:  2600 x 2100  (100%)" "1 on the JPEG"
vs_run "$OUT/vistrel.exe" "$WPICS\\stripes.jpg" || vs_fail "hand-over"
wait_pane 1 "Dimensions:  2600 x 2100" || vs_fail "the hand-over of the shown picture kept the zoom"
# At the fitted view Ctrl + arrows step as ever.
[ "$(D pointer "$MARK" "$CX" "$CY" | field cursor)" = "$arrow" ] || vs_fail "the fitted view kept the zoomed view's cursor"
D ctrlkey "$MARK" RIGHT
wait_caption "grid.png (1/2)" >/dev/null || vs_fail "Ctrl + Right at the fitted view did not step"

echo "-- zoom in full screen"
D key "$MARK" RETURN
expect_rect "0 0 1280 1024" "full screen"
key_pane 1 "Dimensions:  1600 x 1200  (100%)" "1 in full screen"
# The picture control starts a pixel off the screen.
pixel_is 439 361 $(cell 1 1) 841 663 $(cell 2 2) 219 361 $(cell 0 1) || { shot zoom-full-screen; vs_fail "full screen at 100%"; }
key_pane ADD "Dimensions:  1600 x 1200  (125%)" "+ in full screen"
D key "$MARK" ESCAPE
expect_rect "200 200 1160 800" "leaving full screen"
expect_pane 1 "Dimensions:  1600 x 1200  (125%)"
pixel_is $((CX - 100)) $((CY - 100)) $(cell 1 1) $((CX + 100)) $((CY + 100)) $(cell 2 2) ||
    vs_fail "the view's centre moved leaving full screen"
key_pane 0 "Dimensions:  1600 x 1200" "0"

echo "-- a large JPEG: enlarged at once, its full decode swapped in"
press RIGHT "stripes.jpg (2/2)"
stripes_at "$CX" "$CY" && vs_fail "the halved decode shows the stripes"
key_pane 1 "Dimensions:  2600 x 2100  (100%)" "1 on the JPEG"
retry 100 stripes_at "$CX" "$CY" || { shot zoom-jpeg; vs_fail "the full decode was never shown"; }
pixel_is $((CX - 400)) "$CY" 255 0 0 $((CX + 400)) "$CY" 0 0 255 || vs_fail "the full JPEG is not centred"

echo "-- a JPEG stored sideways: its real size turned upright"
# stripes.jpg turned a quarter clockwise, orientation 6: upright it is stripes.jpg half turned, blue left, red right.
mkdir -p "$PICS/turned"
convert "$PICS/stripes.jpg" -rotate 90 -quality 100 -sampling-factor 1x1 "$PICS/turned/sideways.jpg" || vs_fail "convert"
exiftool -q -overwrite_original -n -Orientation=6 "$PICS/turned/sideways.jpg" || vs_fail "exiftool failed"
vs_run "$OUT/vistrel.exe" "$WPICS\\turned\\sideways.jpg" || vs_fail "hand-over"
wait_caption "sideways.jpg (1/1)" >/dev/null || vs_fail "sideways.jpg not shown"
stripes_at "$CX" "$CY" && vs_fail "the halved decode of sideways.jpg shows the stripes"
D key "$MARK" 1
retry 50 eval '[[ "$(pane 1)" == "Dimensions:  "[0-9]*" x "[0-9]*"  (100%)" ]]' || vs_fail "1 gave $(pane 1)"
retry 100 stripes_at "$CX" "$CY" || { shot zoom-sideways; vs_fail "sideways.jpg at its real size was never shown"; }
pixel_is $((CX - 400)) "$CY" 0 0 255 $((CX + 400)) "$CY" 255 0 0 || { shot zoom-sideways; vs_fail "sideways.jpg is not upright"; }
stop_viewer
echo "PASS"
