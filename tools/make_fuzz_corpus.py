#!/usr/bin/env python3
"""Makes the seed corpora of the fuzz targets: small pictures of every
variant the readers know, written with ImageMagick, cjpeg and exiftool or
built here byte by byte, plus a few hostile headers (bombs, truncations).

    tools/make_fuzz_corpus.py [OUTDIR]     (default tests/fuzz/corpus)

Format targets take one option byte in front of the file (depth, flags,
scale or page); each seed is written with a few option bytes. Files found
by fuzzing are kept beside the seeds under names starting "regress-" and
are never removed by this script.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "tests", "fuzz", "corpus")
TMP = tempfile.mkdtemp(prefix="vsfuzzseed")

# Option combinations of each format target (see tests/fuzz/fuzz_*.cpp).
COMBOS = {"bmp": 12, "pcx": 9, "tga": 9, "jpeg": 72, "png": 28, "tiff": 48}
PER_SEED = {"bmp": 6, "pcx": 5, "tga": 5, "jpeg": 6, "png": 7, "tiff": 6}

seeds = {name: [] for name in list(COMBOS) + ["generic", "exif"]}


def run(*cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def have(prog):
    return shutil.which(prog) is not None


def magick(name, *options, size="9x7", source="gradient:red-blue"):
    """A small picture written by ImageMagick; None when that fails."""
    path = os.path.join(TMP, name)
    try:
        run("convert", "-size", size, source, *options, path)
    except (subprocess.CalledProcessError, FileNotFoundError):
        return None
    with open(path, "rb") as f:
        return f.read()


def add(target, name, data):
    if data:
        seeds[target].append((name, data))


# ---- BMP, PCX, TGA -----------------------------------------------------------

def bmp_file(width, height, bits, pixels, palette=b"", compression=0, header=40, masks=b""):
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels), 2835, 2835,
                           len(palette) // 4, 0)
    offset = 14 + len(info) + len(masks) + len(palette)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + masks + palette + pixels


def bmp_seeds():
    for name, opts in [("bmp1", ["-monochrome", "-type", "bilevel"]), ("bmp4", ["-colors", "12", "-type", "palette"]),
                       ("bmp8", ["-colors", "200", "-type", "palette"]), ("bmp8rle", ["-colors", "60", "-compress", "RLE"]),
                       ("bmp24", ["-type", "truecolor"]), ("bmp32", ["-alpha", "on", "-define", "bmp:format=bmp4"]),
                       ("bmp565", ["-define", "bmp:subtype=RGB565"]), ("bmp3", [])]:
        fmt = "BMP2:" if name == "bmp3" else "BMP3:" if name in ("bmp4", "bmp8", "bmp24", "bmp8rle") else "BMP:"
        data = magick(name + ".bmp", *opts)
        if data is None:
            continue
        add("bmp", name, data)
        path = os.path.join(TMP, name + "x.bmp")
        try:
            run("convert", "-size", "9x7", "gradient:red-blue", *opts, fmt + path)
            add("bmp", name + "v", open(path, "rb").read())
        except subprocess.CalledProcessError:
            pass
    # Top-down 24 bits, RLE4 with deltas, and bit fields: written here.
    row = bytes(range(3 * 5)) + b"\0"
    add("bmp", "topdown", bmp_file(5, -3, 24, row * 3))
    pal16 = b"".join(struct.pack("<BBBB", i * 16, 255 - i * 16, i * 8, 0) for i in range(16))
    rle4 = bytes([4, 0x12, 0, 3, 0x34, 0x50, 0, 0, 0, 2, 1, 1, 6, 0x77, 0, 1])
    add("bmp", "rle4", bmp_file(8, 3, 4, rle4, pal16, compression=2))
    pal256 = b"".join(struct.pack("<BBBB", i, i, 255 - i, 0) for i in range(256))
    rle8 = bytes([3, 9, 0, 4, 1, 2, 3, 4, 0, 0, 2, 7, 0, 2, 2, 0, 0, 1])
    add("bmp", "rle8", bmp_file(6, 4, 8, rle8, pal256, compression=1))
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    add("bmp", "bitfields", bmp_file(3, 2, 16, bytes(range(16)), compression=3, masks=masks))
    add("bmp", "os2", bmp_file(4, 2, 8, bytes(8), b"".join(struct.pack("<BBB", i, i, i) for i in range(256)),
                               header=12))
    add("bmp", "bomb", bmp_file(30000, 30000, 24, bytes(64)))
    add("bmp", "bombrle", bmp_file(40000, 20000, 8, bytes([255, 1]) * 8, pal256, compression=1))


def pcx_seeds():
    for name, opts in [("pcx1", ["-monochrome"]), ("pcx8", ["-colors", "40", "-type", "palette"]),
                       ("pcx24", ["-type", "truecolor"]), ("pcxgrey", ["-colorspace", "gray"])]:
        add("pcx", name, magick(name + ".pcx", *opts))
    header = bytearray(128)
    header[0:4] = bytes([10, 5, 1, 8])
    struct.pack_into("<HHHH", header, 4, 0, 0, 29999, 29999)
    header[65] = 3
    struct.pack_into("<H", header, 66, 30000)
    add("pcx", "bomb", bytes(header) + bytes([0xFF, 0]) * 16)


def tga_seeds():
    for name, opts in [("tga24", ["-type", "truecolor"]), ("tgarle", ["-compress", "RLE"]),
                       ("tga8", ["-colors", "30", "-type", "palette"]), ("tgagrey", ["-colorspace", "gray"]),
                       ("tga32", ["-alpha", "on", "-channel", "A", "-evaluate", "set", "60%"])]:
        add("tga", name, magick(name + ".tga", *opts))
    footer = b"\0" * 8 + b"TRUEVISION-XFILE.\0"
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, 30000, 30000, 24, 0x20)
    add("tga", "bomb", header + bytes([0xFF, 1, 2, 3]) * 8 + footer)
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 3, 2, 24, 0)
    add("tga", "footer", header + bytes(18) + footer)


# ---- JPEG ----------------------------------------------------------------------

def jpeg_seeds():
    for name, opts in [("base", ["-quality", "70"]), ("prog", ["-interlace", "JPEG"]),
                       ("grey", ["-colorspace", "gray"]), ("cmyk", ["-colorspace", "CMYK"]),
                       ("s444", ["-sampling-factor", "1x1"]), ("s422", ["-sampling-factor", "2x1"]),
                       ("s420", ["-sampling-factor", "2x2"])]:
        add("jpeg", name, magick(name + ".jpg", *opts, size="17x9"))
    if have("cjpeg"):
        ppm = os.path.join(TMP, "in.ppm")
        run("convert", "-size", "19x11", "gradient:green-yellow", ppm)
        for name, opts in [("arith", ["-arithmetic"]), ("restart", ["-restart", "1B"]),
                           ("optimize", ["-optimize", "-progressive"]), ("dct", ["-dct", "float", "-smooth", "20"])]:
            out = os.path.join(TMP, name + ".jpg")
            try:
                run("cjpeg", *opts, "-outfile", out, ppm)
                add("jpeg", name, open(out, "rb").read())
            except subprocess.CalledProcessError:
                pass
    # A header that declares a huge picture and then ends.
    base = dict(seeds["jpeg"]).get("base")
    if base:
        sof = base.find(b"\xFF\xC0")
        if sof > 0:
            bomb = bytearray(base[: sof + 19])
            struct.pack_into(">HH", bomb, sof + 5, 30000, 30000)
            add("jpeg", "bomb", bytes(bomb))
        add("jpeg", "truncated", base[: len(base) * 2 // 3])


# ---- PNG -----------------------------------------------------------------------

def png_chunk(kind, payload):
    return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)


def png_file(width, height, depth, colour, rows, extra=b"", interlace=0):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + extra +
            png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b""))


def png_seeds():
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
    depths = {0: [1, 2, 4, 8, 16], 2: [8, 16], 3: [1, 2, 4, 8], 4: [8, 16], 6: [8, 16]}
    width, height = 5, 3
    for colour, allowed in depths.items():
        for depth in allowed:
            rowbytes = (width * depth * channels[colour] + 7) // 8
            rows = b"".join(bytes([y % 5]) + bytes((x * 37 + y * 11) & 0xFF for x in range(rowbytes))
                            for y in range(height))
            extra = b""
            if colour == 3:
                extra = png_chunk(b"PLTE", bytes(i & 0xFF for i in range(3 * (1 << depth))))
                extra += png_chunk(b"tRNS", bytes([0, 128]))
            elif colour == 0:
                extra = png_chunk(b"tRNS", struct.pack(">H", 1)) + png_chunk(b"bKGD", struct.pack(">H", 0))
            elif colour == 2:
                extra = png_chunk(b"tRNS", struct.pack(">HHH", 1, 2, 3)) + png_chunk(b"gAMA", struct.pack(">I", 45455))
            elif colour == 6:
                extra = png_chunk(b"bKGD", struct.pack(">HHH", 10, 20, 30))
            add("png", "c%dd%d" % (colour, depth), png_file(width, height, depth, colour, rows, extra))
    add("png", "interlaced", magick("il.png", "-interlace", "PNG", size="11x9"))
    add("png", "phys", magick("phys.png", "-density", "300", "-units", "PixelsPerInch"))
    add("png", "bomb", png_file(30000, 30000, 8, 2, b"\0" * 64))


# ---- TIFF ----------------------------------------------------------------------

def tiff_seeds():
    for name, opts in [("none", ["-compress", "None"]), ("lzw", ["-compress", "LZW"]),
                       ("packbits", ["-compress", "RLE"]), ("zip", ["-compress", "Zip"]),
                       ("jpeg", ["-compress", "JPEG"]), ("g4", ["-monochrome", "-compress", "Group4"]),
                       ("g3", ["-monochrome", "-compress", "Fax"]), ("palette", ["-colors", "20", "-type", "palette"]),
                       ("grey16", ["-colorspace", "gray", "-depth", "16"]), ("cmyk", ["-colorspace", "CMYK"]),
                       ("alpha", ["-alpha", "on"]), ("planar", ["-interlace", "plane"]),
                       ("tiled", ["-define", "tiff:tile-geometry=16x16"]), ("orient", ["-orient", "RightTop"]),
                       ("msb", ["-endian", "MSB"])]:
        add("tiff", name, magick(name + ".tif", *opts))
    pages = os.path.join(TMP, "pages.tif")
    try:
        run("convert", "-size", "6x5", "xc:red", "xc:lime", "xc:blue", pages)
        add("tiff", "pages", open(pages, "rb").read())
    except subprocess.CalledProcessError:
        pass
    # A minimal strip TIFF that declares a huge picture.
    entries = [(256, 4, 1, 30000), (257, 4, 1, 30000), (258, 3, 1, 8), (259, 3, 1, 1), (262, 3, 1, 1),
               (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, 30000), (279, 4, 1, 16)]
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        ifd += struct.pack("<HHII", tag, kind, count, value)
    add("tiff", "bomb", b"II*\0" + struct.pack("<I", 24) + bytes(16) + ifd + b"\0\0\0\0")


# ---- EXIF ----------------------------------------------------------------------

TYPES = {"B": (1, 1), "A": (2, 1), "S": (3, 2), "L": (4, 4), "R": (5, 8), "b": (6, 1), "U": (7, 1), "s": (8, 2),
         "l": (9, 4), "r": (10, 8), "F": (11, 4), "D": (12, 8)}


def pack_values(kind, values, e):
    if kind in ("A", "U", "B", "b"):
        return bytes(values) if not isinstance(values, bytes) else values
    fmt = {"S": "H", "L": "I", "s": "h", "l": "i", "F": "f", "D": "d"}
    if kind in fmt:
        return b"".join(struct.pack(e + fmt[kind], v) for v in values)
    sign = "i" if kind == "r" else "I"
    return b"".join(struct.pack(e + sign + sign, n, d) for n, d in values)


def ifd_bytes(entries, at, e, next_ifd=0):
    """One IFD placed at offset `at` (from its base), data after it."""
    entries = sorted(entries, key=lambda x: x[0])
    data = b""
    data_at = at + 2 + 12 * len(entries) + 4
    table = struct.pack(e + "H", len(entries))
    for tag, kind, values in entries:
        code, size = TYPES[kind]
        raw = pack_values(kind, values, e)
        count = len(raw) // size
        if len(raw) <= 4:
            table += struct.pack(e + "HHI", tag, code, count)[:8] + raw.ljust(4, b"\0")
        else:
            table += struct.pack(e + "HHII", tag, code, count, data_at + len(data))
            data += raw + (b"\0" if len(raw) % 2 else b"")
    return table + struct.pack(e + "I", next_ifd) + data


def tiff_block(e, make, note, thumb):
    """A TIFF structure with IFD0, EXIF, Interop, GPS and IFD1 (thumbnail)."""
    mark = b"II*\0" if e == "<" else b"MM\0*"
    def text(s):
        return s.encode() + b"\0"
    sizes = {}
    layout = {}

    def build(offsets):
        ifd0 = [(0x010F, "A", text(make)), (0x0110, "A", text("Fuzz Model 1")), (0x0112, "S", [6]),
                (0x011A, "R", [(72, 1)]), (0x011B, "R", [(72, 1)]), (0x0128, "S", [2]),
                (0x0132, "A", text("2026:12:07 10:11:12")), (0x8769, "L", [offsets["exif"]]),
                (0x8825, "L", [offsets["gps"]])]
        exif = [(0x829A, "R", [(1, 125)]), (0x829D, "R", [(28, 10)]), (0x8827, "S", [200]),
                (0x9000, "U", b"0230"), (0x9003, "A", text("2026:12:07 10:11:12")),
                (0x9201, "r", [(-6, 1)]), (0x9204, "r", [(0, 3)]), (0x9286, "U", b"ASCII\0\0\0fuzz comment"),
                (0x927C, "U", note), (0xA005, "L", [offsets["interop"]]), (0xA002, "L", [17]),
                (0xA003, "S", [9]), (0x9209, "S", [16]), (0xA20E, "F", [1.5]), (0xA20F, "D", [2.25]),
                (0x9202, "l", [-3]), (0x8822, "b", b"\xfe")]
        interop = [(0x0001, "A", text("R98")), (0x0002, "U", b"0100")]
        gps = [(0x0000, "B", b"\2\3\0\0"), (0x0001, "A", text("N")), (0x0002, "R", [(48, 1), (51, 1), (2959, 100)]),
               (0x0005, "B", b"\0"), (0x0006, "R", [(35, 1)])]
        ifd1 = [(0x0103, "S", [6]), (0x0201, "L", [offsets["thumb"]]), (0x0202, "L", [len(thumb)])]
        parts = [("ifd0", ifd0, offsets["ifd1"]), ("exif", exif, 0), ("interop", interop, 0), ("gps", gps, 0),
                 ("ifd1", ifd1, 0)]
        out = {}
        for name, entries, nxt in parts:
            out[name] = ifd_bytes(entries, offsets[name], e, nxt)
        return out, parts

    offsets = {k: 0 for k in ("ifd0", "exif", "interop", "gps", "ifd1", "thumb")}
    for _ in range(2):  # sizes do not depend on offsets; the second pass is exact
        out, parts = build(offsets)
        at = 8
        for name, _, _ in parts:
            offsets[name] = at
            at += len(out[name])
        offsets["thumb"] = at
    out, parts = build(offsets)
    block = mark + struct.pack(e + "I", 8) + b"".join(out[name] for name, _, _ in parts) + thumb
    return block


def maker_note(kind):
    """Maker-note bytes of a kind. Where a kind counts offsets from the TIFF
    header, its values stay inline so that the note's place does not matter."""
    if kind == "Canon":
        return ifd_bytes([(0x0001, "S", [1, 2]), (0x0006, "A", b"IMG\0")], 0, "<")
    if kind == "NIKON":
        inner = ifd_bytes([(0x0001, "U", b"0210"), (0x0004, "A", b"FINE\0")], 8, ">")
        return b"Nikon\0\x02\x10\0\0" + b"MM\0*" + struct.pack(">I", 8) + inner
    if kind == "FUJIFILM":
        return b"FUJIFILM" + struct.pack("<I", 12) + ifd_bytes([(0x0000, "U", b"0130"), (0x1000, "A", b"NORMAL\0")], 12, "<")
    if kind == "OLYMPUS OPTICAL CO.,LTD":
        return b"OLYMP\0\x01\0" + ifd_bytes([(0x0200, "L", [2]), (0x0207, "A", b"FZ1\0")], 0, "<")
    return ifd_bytes([(0x0001, "S", [1]), (0x0002, "S", [3])], 0, "<")


def exif_seeds(thumb):
    for make, e in [("Canon", "<"), ("NIKON", ">"), ("FUJIFILM", "<"), ("OLYMPUS OPTICAL CO.,LTD", "<"),
                    ("CASIO", ">"), ("NoMaker", "<")]:
        note = maker_note(make)
        block = tiff_block(e, make, note, thumb)
        app1 = b"Exif\0\0" + block
        segment = b"\xFF\xE1" + struct.pack(">H", len(app1) + 2) + app1
        jpeg = thumb[:2] + segment + thumb[2:]
        tag = make.split()[0].lower()
        add("exif", "jpeg-" + tag, jpeg)
        if make in ("Canon", "CASIO"):
            add("exif", "raw-" + tag, segment)
            add("exif", "tiff-" + tag, block)
    # exiftool's own writing into a JPEG and a TIFF.
    if have("exiftool"):
        for name, ext in [("etj", "jpg"), ("ett", "tif")]:
            path = os.path.join(TMP, name + "." + ext)
            run("convert", "-size", "16x12", "gradient:white-black", path)
            try:
                run("exiftool", "-q", "-overwrite_original", "-Make=Canon", "-Model=Fuzz", "-Orientation#=8",
                    "-ExposureTime=1/60", "-GPSLatitude=48.8", "-GPSLatitudeRef=N", "-UserComment=hello",
                    "-Artist=Vistrel", "-InteropIndex=R98", path)
                add("exif", name, open(path, "rb").read())
            except subprocess.CalledProcessError:
                pass


def generic_seeds():
    for target in ("bmp", "pcx", "tga", "jpeg", "png", "tiff"):
        for name, data in seeds[target][:3]:
            add("generic", target + "-" + name, data)
    add("generic", "pbm", b"P1\n3 2\n0 1 0\n1 0 1\n")
    add("generic", "pgm", b"P5\n3 2\n255\n" + bytes(range(0, 240, 40)))
    add("generic", "ppm", b"P6\n2 2\n255\n" + bytes(range(12)))
    add("generic", "pgm16", b"P2\n2 1\n65535\n0 65535\n")
    add("generic", "wbmp", b"\0\0\x08\x02\xff\x00")
    add("generic", "gif", b"GIF89a\x01\0\x01\0\0\0\0;")
    add("generic", "pcd", bytes(2048) + b"PCD_IPI" + bytes(16))
    add("generic", "tla", b"TLA\x01" + bytes(40))


def main():
    bmp_seeds()
    pcx_seeds()
    tga_seeds()
    jpeg_seeds()
    png_seeds()
    tiff_seeds()
    thumb = magick("thumb.jpg", "-quality", "40", size="8x8") or b""
    if thumb:
        exif_seeds(thumb)
    generic_seeds()
    written = 0
    for target, items in seeds.items():
        folder = os.path.join(OUT, target)
        os.makedirs(folder, exist_ok=True)
        for old in os.listdir(folder):
            if not old.startswith("regress-"):
                os.remove(os.path.join(folder, old))
        for index, (name, data) in enumerate(items):
            if target in COMBOS:
                combos, count = COMBOS[target], PER_SEED[target]
                step = max(1, combos // count)
                for k in range(count):
                    option = (index + k * step) % combos
                    with open(os.path.join(folder, "%s-%02d" % (name, option)), "wb") as f:
                        f.write(bytes([option]) + data)
                    written += 1 + len(data)
            else:
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
                written += len(data)
    shutil.rmtree(TMP, ignore_errors=True)
    print("seed corpus: %d targets, %d bytes in %s" % (len(seeds), written, OUT))


if __name__ == "__main__":
    main()
