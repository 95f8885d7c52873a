#!/bin/bash
# The viewer stepping through a folder of hostile files under Wine: cut-off
# files, decompression bombs, wrong extensions, empty files and folders
# named like pictures. Every unreadable file gives exactly one message box
# naming it, the picture shown before stays (caption and pixels), the
# readable ones among them are shown, and the viewer never goes down.
# usage: hostile_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"

convert -size 320x240 xc:'#ff0000' "$PICS/00-red.png"
convert -size 320x240 xc:'#00ff00' "$PICS/src-green.png"
convert -size 320x240 xc:'#0000ff' "BMP3:$PICS/src-blue.bmp"
convert -size 320x240 xc:'#ffff00' -quality 95 "$PICS/src-yellow.jpg"
for ext in tif pcx tga; do convert -size 64x48 gradient:red-blue "$PICS/src-small.$ext"; done

# Writes the hostile files; prints one line per folder entry in name order:
# NAME bad|good|dir. Readable files carry their colour after "good".
python3 - "$PICS" <<'EOF' >"$VS_TMP/plan" || vs_fail "could not make the hostile files"
import os, random, struct, sys, zlib
d = sys.argv[1]
def src(name):
    with open(os.path.join(d, name), "rb") as f:
        return f.read()
png, bmp, jpg = src("src-green.png"), src("src-blue.bmp"), src("src-yellow.jpg")
tif, pcx, tga = src("src-small.tif"), src("src-small.pcx"), src("src-small.tga")
for n in [n for n in os.listdir(d) if n.startswith("src-")]:
    os.remove(os.path.join(d, n))
rnd = random.Random(20261207)
sos = jpg.find(b"\xff\xda")
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
def png_of(w, h, rows):
    ihdr = chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    return b"\x89PNG\r\n\x1a\n" + ihdr + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")
bmp_bomb = b"BM" + struct.pack("<IHHI", 54 + 64, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 30000, 30000, 1, 24,
                                                                         0, 0, 0, 0, 0, 0) + bytes(64)
jpeg_bomb = bytearray(jpg[:sos])
sof = jpeg_bomb.find(b"\xff\xc0")
struct.pack_into(">HH", jpeg_bomb, sof + 5, 60000, 60000)
# One of each way a file fails in the viewer: a decoder that gives up on each
# format (a JPEG before and after its dimensions), a size nobody can hold, no
# pixels at all, content of no known type, and a known type not handled.
bad = [
    ("png", png[:len(png) // 2]), ("jpg", jpg[:20]), ("jpg", jpg[:sos]), ("bmp", bmp[:60]),
    ("tif", tif[:30]), ("pcx", pcx[:127]), ("tga", tga[:len(tga) // 2]),
    ("bmp", bmp_bomb), ("png", png_of(30000, 30000, bytes(64))), ("jpg", bytes(jpeg_bomb) + bytes(jpg[sos:sos + 40])),
    ("png", png_of(0, 4, bytes(4))), ("tif", b"II*\0"),
    ("jpg", b""), ("png", b"just some text, not a picture\n"), ("jpg", bytes(rnd.getrandbits(8) for _ in range(3000))),
    ("png", b"GIF89a\x01\0\x01\0\0\0\0;"),
]
good = [("bmp", png, "0 255 0"), ("jpg", bmp, "0 0 255"), ("tga", jpg, "255 255 0")]
dirs = ["dir.jpg", "pics.png", "folder.bmp", "scan.tif"]
entries = []
for i, (ext, data) in enumerate(bad):
    entries.append(("bad." + ext, data, "bad"))
    if i % 5 == 4 and good:
        ext, data, colour = good.pop(0)
        entries.append(("good." + ext, data, "good " + colour))
for i, name in enumerate(dirs):
    os.mkdir(os.path.join(d, "%02d-%s" % (3 + 5 * i, name)))
for n, (name, data, kind) in enumerate(entries, 1):
    with open(os.path.join(d, "%02d-%s" % (n, name)), "wb") as f:
        f.write(data)
    print("%02d-%s" % (n, name), kind)
EOF
total=$(($(wc -l <"$VS_TMP/plan") + 1))
bad_count=$(grep -c " bad$" "$VS_TMP/plan")
dir_count=$(find "$PICS" -mindepth 1 -type d | wc -l)
[ "$bad_count" -ge 16 ] && [ "$dir_count" = 4 ] || vs_fail "only $bad_count hostile files and $dir_count folders"
echo "-- $total pictures listed, $bad_count unreadable files, $dir_count folders named like pictures"

# On a failure below, the whole screen shows what the viewer was doing.
fail_shot() {
    import -window root "$LOGS/hostile-screen.png" 2>/dev/null
    vs_fail "$1 (screen: $LOGS/hostile-screen.png)"
}

start_viewer "$(winpath "$PICS/00-red.png")"
wait_caption "00-red.png (1/$total)" >/dev/null || vs_fail "first picture not shown, or folders counted"

# The thumbnail worker decodes the folder in the background without a word:
# its messages would stand over whichever view is shown, and hold it from
# its end.
D thumbsend "$MARK" SortEvent 120 >/dev/null || fail_shot "the thumbnail worker did not end"
if text=$(D dialog "Vistrel Viewer" 1 0 2>/dev/null); then vs_fail "a message before any step: \"$text\""; fi
pixel_is $CX 291 255 0 0 || fail_shot "first picture not painted"

# A step per entry: an unreadable file brings one message naming it, and the
# picture shown before stays painted; a readable one is shown.
shown=00-red.png colour="255 0 0" messages=0
while read -r name kind rgb <&3; do
    D key "$MARK" RIGHT
    if [ "$kind" = bad ]; then
        text=$(D dialog "Vistrel Viewer" 1 20) || fail_shot "$name: no message"
        grep -qF "($(winpath "$PICS/$name"))" <<<"$text" || vs_fail "$name: message was \"$text\""
        grep -qE "Cannot read picture file|Unrecognized image format" <<<"$text" || vs_fail "$name: message was \"$text\""
        messages=$((messages + 1))
        pixel_is $CX 291 $colour || fail_shot "$name: previous picture $shown not kept"
    else
        pixel_is $CX 291 $rgb || fail_shot "$name: readable file with a wrong extension not shown"
        shown=$name colour=$rgb
    fi
done 3<"$VS_TMP/plan"
# The caption names the picture on screen, not the unreadable entry.
wait_caption "$shown ($(($(grep -n "^$shown " "$VS_TMP/plan" | cut -d: -f1) + 1))/$total)" >/dev/null ||
    vs_fail "the caption does not name $shown, the picture shown"
echo "-- $messages messages; no second message, window and picture still there"
if D dialog "Vistrel Viewer" 1 2 >/dev/null 2>&1; then vs_fail "a message too many"; fi
pixel_is $CX 291 $colour || vs_fail "last picture $shown not kept"
[ "$messages" -eq "$bad_count" ] || vs_fail "$messages messages for $bad_count unreadable files"
D key "$MARK" RIGHT
wait_caption "00-red.png (1/$total)" >/dev/null || fail_shot "stepping did not wrap around to the first picture"
stop_viewer
echo "hostile folder: ok"
