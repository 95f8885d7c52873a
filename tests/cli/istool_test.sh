#!/bin/bash
# istool from the outside: info and convert against ImageMagick, and the
# one-line errors for bad input.
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
grep -qx "type 1 BMP" <<<"$out" || fail "info type: $out"
grep -qx "width 37" <<<"$out" || fail "info width: $out"
grep -qx "height 23" <<<"$out" || fail "info height: $out"
grep -qx "bits 24" <<<"$out" || fail "info bits: $out"

# A chain of conversions keeps every pixel.
"$IST" convert "$T/in.bmp" "$T/a.tga" || fail "bmp -> tga"
"$IST" convert "$T/a.tga" "$T/b.PCX" || fail "tga -> pcx"
"$IST" convert "$T/b.PCX" "$T/c.bmp" || fail "pcx -> bmp"
for f in a.tga b.PCX c.bmp; do
    cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/$f" rgb:-) || fail "pixels differ in $f"
done
"$IST" info "$T/a.tga" | grep -qx "type 14 TGA" || fail "tga info"
"$IST" info "$T/b.PCX" | grep -qx "bits 24" || fail "pcx info"

# The compressed formats: lossless ones keep every pixel, JPEG its size.
for f in d.png e.tif f.tiff; do
    "$IST" convert "$T/in.bmp" "$T/$f" || fail "bmp -> $f"
    cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/$f" rgb:-) || fail "pixels differ in $f"
done
"$IST" info "$T/d.png" | grep -qx "type 4 PNG" || fail "png info"
"$IST" info "$T/e.tif" | grep -qx "bits 24" || fail "tiff info"
if "$IST" convert "$T/d.png" "$T/g.jpg"; then
    [ "$(identify -format '%w %h' "$T/g.jpg")" = "37 23" ] || fail "jpeg size"
    "$IST" info "$T/g.jpg" | grep -qx "type 3 JPEG" || fail "jpeg info"
else
    fail "png -> jpg"
fi

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

# PNM input goes through the generic reader.
convert "$T/in.bmp" "$T/in.ppm"
"$IST" convert "$T/in.ppm" "$T/p.bmp" || fail "ppm -> bmp"
cmp -s <(convert "$T/in.bmp" rgb:-) <(convert "$T/p.bmp" rgb:-) || fail "pixels differ in p.bmp"

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

[ $fails -eq 0 ] && echo PASS
exit $fails
