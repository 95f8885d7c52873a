#!/bin/bash
# istool from the outside: info and convert against ImageMagick, exif and
# thumb against exiftool, and the one-line errors for bad input.
# usage: istool_test.sh ISTOOL
set -u
IST=$1
T=$(mktemp -d "${TMPDIR:-/tmp}/istool.XXXXXX")
trap 'rm -rf "$T"' EXIT
fails=0
fail() { echo "FAIL: $*" >&2; fails=$((fails + 1)); }

command -v convert >/dev/null || { echo "ImageMagick missing: skipped"; exit 0; }

convert -size 37x23 plasma:fractal -seed 7 -type TrueColor "BMP3:$T/in.bmp" 2>/dev/null ||
    convert -size 37x23 gradient:red-blue -type TrueColor "BMP3:$T/in.bmp"

out=$("$IST" info "$T/in.bmp") || fail "info failed"
[ "$(head -n 4 <<<"$out")" = "$(printf 'type 1 BMP\nwidth 37\nheight 23\nbits 24')" ] || fail "info: $out"

# A chain of conversions through every lossless format keeps every pixel.
prev=in.bmp
for f in a.tga b.PCX c.bmp d.png e.tif f.tiff; do
    "$IST" convert "$T/$prev" "$T/$f" || fail "$prev -> $f"
    cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/$f" rgb:-) || fail "pixels differ in $f"
    prev=$f
done
for want in "a.tga type 14 TGA" "b.PCX bits 24" "d.png type 4 PNG" "e.tif bits 24"; do
    "$IST" info "$T/${want%% *}" | grep -qx "${want#* }" || fail "info of ${want%% *}"
done
# JPEG keeps the size.
"$IST" convert "$T/d.png" "$T/g.jpg" || fail "png -> jpg"
[ "$(identify -format '%w %h' "$T/g.jpg" 2>&1)" = "37 23" ] || fail "jpeg size"
"$IST" info "$T/g.jpg" | grep -qx "type 3 JPEG" || fail "jpeg info"

# Quarter turns compose; resizing gives the asked size.
"$IST" rotate "$T/in.bmp" "$T/r90.png" 90 || fail "rotate 90"
[ "$(identify -format '%w %h' "$T/r90.png")" = "23 37" ] || fail "rotated size"
"$IST" rotate "$T/r90.png" "$T/r360.bmp" 270 || fail "rotate 270"
cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/r360.bmp" rgb:-) || fail "90 then 270 is not the original"
"$IST" rotate "$T/in.bmp" "$T/r180.tga" 180 || fail "rotate 180"
cmp -s <(convert "$T/in.bmp" -rotate 180 rgb:-) <(convert "$T/r180.tga" rgb:-) || fail "180 differs from ImageMagick"
"$IST" resize "$T/in.bmp" "$T/small.png" 10x7 || fail "resize"
[ "$(identify -format '%w %h' "$T/small.png")" = "10 7" ] || fail "resized size"
"$IST" resize "$T/in.bmp" "$T/same.bmp" 37x23 18 || fail "resize to the same size"
cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/same.bmp" rgb:-) || fail "same-size nearest resize changed pixels"

# PNM input goes through the generic reader (VS_NO_PNM: a build without it).
if [ -z "${VS_NO_PNM:-}" ]; then
    convert "$T/in.bmp" "$T/in.ppm"
    "$IST" convert "$T/in.ppm" "$T/p.bmp" || fail "ppm -> bmp"
    cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/p.bmp" rgb:-) || fail "pixels differ in p.bmp"
fi

# Bad input: non-zero exit, exactly one line on stderr, no output file.
expect_error() {
    local name=$1
    shift
    local err
    err=$("$IST" "$@" 2>&1 >/dev/null) && { fail "$name: exit 0"; return; }
    [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "$name: not one line: $err"
    [ -n "$err" ] || fail "$name: no message"
}
head -c 500 /dev/urandom >"$T/noise.bin"
head -c 40 "$T/in.bmp" >"$T/cut.bmp"
expect_error missing info "$T/nothing.bmp"
expect_error noise info "$T/noise.bin"
expect_error truncated convert "$T/cut.bmp" "$T/cut.tga"
[ -e "$T/cut.tga" ] && fail "output left after a failed read"
expect_error extension convert "$T/in.bmp" "$T/out.xyz"
expect_error baddir convert "$T/in.bmp" "$T/no/such/dir/x.bmp"
cp "$T/a.tga" "$T/keep.tga"
expect_error keep convert "$T/noise.bin" "$T/keep.tga"
cmp -s "$T/a.tga" "$T/keep.tga" || fail "a failed convert damaged the existing output"
expect_error badsize resize "$T/in.bmp" "$T/x.bmp" 10by7
expect_error badmode resize "$T/in.bmp" "$T/x.bmp" 10x7 99
expect_error badangle rotate "$T/in.bmp" "$T/x.bmp" 45
"$IST" >/dev/null 2>&1 && fail "no arguments: exit 0"

# EXIF: every tag per directory, and the embedded thumbnail, against exiftool.
if command -v exiftool >/dev/null; then
    convert -size 160x120 gradient:blue-yellow "$T/thumb.jpg"
    convert -size 64x48 gradient:red-blue "$T/cam.jpg"
    exiftool -q -overwrite_original -n "-ThumbnailImage<=$T/thumb.jpg" -Make=Canon -Orientation=6 \
        -ExposureTime=0.008 -GPSLatitude=12.5 -GPSLatitudeRef=N "$T/cam.jpg" || fail "exiftool"
    out=$("$IST" exif "$T/cam.jpg") || fail "exif failed"
    TAB=$'\t'
    for want in "IFD0${TAB}0x010f${TAB}Make${TAB}A${TAB}Canon" \
        "IFD0${TAB}0x0112${TAB}Orientation${TAB}U16${TAB}6" \
        "exifIFD${TAB}0x829a${TAB}ExposureTime${TAB}UR${TAB}1/125" \
        "exifIFD${TAB}0x9000${TAB}ExifVersion${TAB}U8${TAB}x30, x32, x33, x32" \
        "GPS${TAB}0x0001${TAB}InteroperabilityIndex${TAB}A${TAB}N" \
        "IFD1${TAB}0x0103${TAB}Compression${TAB}U16${TAB}6"; do
        grep -qxF "$want" <<<"$out" || fail "exif lacks: $want"
    done
    # One line per tag, five fields each, as many as exiftool lists.
    [ "$(awk -F'\t' 'NF != 5' <<<"$out" | wc -l)" -eq 0 ] || fail "exif: lines without five fields"
    want=$(exiftool -v2 "$T/cam.jpg" | grep -c -- '- Tag 0x' )
    jfif=$(exiftool -v2 "$T/cam.jpg" | sed -n '/APP0/,/APP1/p' | grep -c -- '- Tag 0x')
    [ "$(wc -l <<<"$out")" -eq $((want - jfif)) ] || fail "exif: $(wc -l <<<"$out") tags, exiftool $((want - jfif))"
    "$IST" thumb "$T/cam.jpg" "$T/t.jpg" || fail "thumb failed"
    cmp -s "$T/t.jpg" <(exiftool -b -ThumbnailImage "$T/cam.jpg") || fail "thumbnail differs from exiftool's"
    [ "$(identify -format '%w %h' "$T/t.jpg")" = "160 120" ] || fail "thumbnail size"

    exiftool -q -overwrite_original -Orientation=3 -n "$T/g.jpg"
    "$IST" exif "$T/g.jpg" | grep -qxF "IFD0${TAB}0x0112${TAB}Orientation${TAB}U16${TAB}3" || fail "exif without thumbnail"
    expect_error nothumb thumb "$T/g.jpg" "$T/none.jpg"
    [ -e "$T/none.jpg" ] && fail "thumbnail file left without a thumbnail"
    "$IST" convert "$T/in.bmp" "$T/plain.jpg" || fail "bmp -> jpg"
    expect_error noexif exif "$T/plain.jpg"
    expect_error noexifthumb thumb "$T/plain.jpg" "$T/none.jpg"
    expect_error bmpexif exif "$T/in.bmp"
    expect_error missingexif exif "$T/nothing.jpg"
    expect_error noiseexif exif "$T/noise.bin"
    expect_error thumbdir thumb "$T/cam.jpg" "$T/no/such/dir/t.jpg"
else
    echo "exiftool missing: EXIF commands skipped"
fi

[ $fails -eq 0 ] && echo PASS
exit $fails
