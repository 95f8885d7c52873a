#!/bin/bash
# The thumbnail view end to end: a folder of JPEGs with and without EXIF thumbnails, a PNG, a corrupt file, a large
# picture and a file of another kind; each item shows its own thumbnail or none, keys and clicks move the current
# picture, a double click goes full screen, the view sorts with the list, and a stop while the worker is busy ends it
# before the next file.
# usage: thumbs_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"
UM_STOP_THUMBNAILS=$((0x400 + 20))
THUMBS_DONE=SortEvent  # the named event the worker sets at its end

# Red picture carrying a green EXIF thumbnail: the view must show green.
convert -size 160x120 xc:'#00ff00' "$PICS/thumb.jpg"
convert -size 640x480 xc:'#ff0000' -quality 90 "$PICS/a_exif.jpg"
exiftool -q -overwrite_original "-ThumbnailImage<=$PICS/thumb.jpg" "$PICS/a_exif.jpg" || vs_fail "exiftool"
rm "$PICS/thumb.jpg"
head -c 3000 /dev/urandom > "$PICS/b_broken.jpg"
convert -size 400x200 xc:'#0000ff' -strip -quality 90 "$PICS/c_plain.jpg"
# The view's background colour: no hole where a picture holds it.
convert -size 200x300 xc:'#5c8bb4' "$PICS/d.png"
slow_pngs "$PICS/e_big" 3
convert -size 300x200 gradient:'#00ffff-#008080' "$PICS/f_after.png"
echo "notes" > "$PICS/g_notes.txt"

# thumbs lines: item=I IMAGE L T R B LABEL
items() { D thumbs "$MARK"; }
image_of() { items | awk -v i="$1" '$1 == "item=" i { print $2 }'; }
centre_of() { items | awk -v i="$1" '$1 == "item=" i { print int(($3 + $5) / 2), int(($4 + $6) / 2) }'; }
label_of() { items | awk -v i="$1" '$1 == "item=" i { print $7 }'; }
selected_is() { [ "$(items | field selected)" = "$1" ]; }
wait_selected() { retry 50 selected_is "$1"; }
count_is() { [ "$(items | field count)" = "$1" ]; }
centre_is() { pixel_is $(centre_of "$1") "$2" "$3" "$4"; }  # INDEX R G B

# Four items a row.
D regset "$KEY" WndWidth dword 800
start_viewer "$WPICS\\a_exif.jpg"
echo "-- a stop while the worker is busy on a large file"
# The worker starts with the viewer, shown or not. Once e_big1.png (item 4) has its thumbnail it is on the large
# pictures after it; the driver takes the images just before and just after the stop, then waits for the worker's end.
out=$(D stopthumbs "$MARK" $UM_STOP_THUMBNAILS 4 $THUMBS_DONE 120) || vs_fail "e_big1.png got no image: $out"
[ "$(field ended <<<"$out")" = 1 ] || vs_fail "the worker did not end after the stop: $out"
# The first item without an image in before= or after=, the corrupt file (item 1) aside.
first_missing() { field "$1" <<<"$out" | awk '{ for (i = 1; i <= NF; ++i) if (i != 2 && $i < 0) { print i - 1; exit } print NF }'; }
# The file in progress at the stop, if the worker had begun one, lies between the first item missing before the stop and
# the first one missing after it: it may still get its thumbnail, nothing after it may.
from=$(first_missing before)
to=$(first_missing after)
[ "$from" -le 6 ] && [ "$to" -le 6 ] || vs_fail "the worker was done before the stop: $out"
[ "$from" -le "$to" ] || vs_fail "an image went away at the stop: $out"
for i in $(seq $((to + 1)) 7); do
    [ "$(image_of $i)" -lt 0 ] || vs_fail "the worker went on after the stop (busy with $from..$to): $(items)"
done
# The worker passed the corrupt file without a message of its own: one would have held it from its end.
D dialog "Vistrel Viewer" 2 0 >/dev/null 2>&1 && vs_fail "the worker showed a message"

echo "-- the view lists the folder's pictures"
wait_caption "a_exif.jpg (1/8)" >/dev/null || vs_fail "first picture not shown"
D key "$MARK" V
retry 50 count_is 8 || vs_fail "view has $(items | field count) items, expected 8"
[ "$(label_of 0)" = a_exif.jpg ] && [ "$(label_of 7)" = f_after.png ] || vs_fail "labels: $(items)"

# Each item by its label: its own thumbnail, or none and an empty item.
# Only e_big1.png of the large pictures was made before the stop.
check_thumbnails() {  # WHEN
    local i label
    for i in 0 1 2 3 4 5 6 7; do
        label=$(label_of $i)
        case $label in
        a_exif.jpg) centre_is $i 0 255 0 ;;
        c_plain.jpg) centre_is $i 0 0 255 ;;
        d.png) centre_is $i 92 139 180 ;;
        e_big1.png) centre_is $i 255 0 255 ;;
        e_big*.png) [ "$(image_of $i)" -lt 0 ] || centre_is $i 255 0 255 ;;
        *) [ "$(image_of $i)" -lt 0 ] && centre_is $i 255 255 255 ;;
        esac || vs_fail "$1: item $i ($label) does not show its own thumbnail: $(items)"
    done
}
echo "-- each item shows its own thumbnail or none"
check_thumbnails "in name order"

echo "-- arrow keys and clicks move the current picture"
D key "$MARK" RIGHT
wait_selected 1 || vs_fail "Right did not select item 1: $(items | field selected)"
press DOWN "e_big1.png (5/8)"
wait_selected 4 || vs_fail "Down did not select item 4"
D click "$MARK" $(centre_of 2)
wait_caption "c_plain.jpg (3/8)" >/dev/null || vs_fail "a click did not make c_plain.jpg current"
wait_selected 2 || vs_fail "the click did not select item 2"

echo "-- a double click goes full screen"
D click "$MARK" $(centre_of 3) 2
expect_rect "0 0 1280 1024" "double click"
wait_caption "d.png (4/8)" >/dev/null || vs_fail "full screen does not show the double-clicked picture"
D key "$MARK" ESCAPE
expect_rect "200 200 1000 800" "leaving full screen"
centre_is 2 0 0 255 || vs_fail "the view is not shown again after full screen"

echo "-- a thumbnail dragged back onto the viewer changes nothing"
D drag "$MARK" $(centre_of 2) >/dev/null || vs_fail "drag"
[ -e "$PICS/c_plain.jpg" ] || vs_fail "the dragged file is gone"
count_is 8 || vs_fail "the drop changed the view: $(items)"
wait_caption "d.png (4/8)" >/dev/null || vs_fail "the drop changed the current picture"

echo "-- the view sorts with the list"
D menu "$MARK" 19   # size, ascending
wait_pane 3 "Sort by: SIZE ASC" || vs_fail "the size sort did not finish"
want=$(cd "$PICS" && ls -S -r a_exif.jpg b_broken.jpg c_plain.jpg d.png e_big1.png e_big2.png e_big3.png f_after.png | tr '\n' ' ')
order() { items | awk '$1 ~ /^item=/ { printf "%s ", $7 }'; }
order_is() { [ "$(order)" = "$want" ]; }
retry 25 order_is || vs_fail "view order \"$(order)\", list order \"$want\""
# Each thumbnail moved with its own item.
check_thumbnails "sorted by size"

echo "-- Delete removes the current item from the view"
D key "$MARK" HOME
wait_selected 0 || vs_fail "Home did not select item 0"
first=$(label_of 0)
D key "$MARK" DELETE
D dialog "Vistrel Viewer" 6 20 >/dev/null || vs_fail "no question before deleting"
retry 25 count_is 7 || vs_fail "the deleted item is still in the view"
[ "$(label_of 0)" != "$first" ] || vs_fail "$first still first in the view"
selected_is 0 || vs_fail "the new current item is not selected"

echo "-- Esc closes while the view is shown"
stop_viewer
echo "PASS"
