#!/usr/bin/env python3
"""Draws the toolbar's bitmap strips and the context menu's pictures as
24-bit BMP files: flat glyphs in one slate colour on the panel's face.
Each button strip holds four frames side by side: normal, hover, pressed,
disabled. usage: make_toolbar.py OUTDIR"""
import math
import os
import struct
import sys

FACE = (236, 239, 243)
HOVER = (218, 228, 242)
PRESSED = (190, 206, 230)
EDGE = (120, 146, 186)
INK = (52, 73, 102)
ACCENT = (40, 120, 200)
GREY = (168, 172, 178)
HEIGHT = 38
SS = 4  # samples per pixel side


def bmp(width, height, pixels):
    """pixels: rows top first of (r, g, b)."""
    stride = (width * 3 + 3) & ~3
    data = b""
    for row in reversed(pixels):
        line = b"".join(bytes((b, g, r)) for r, g, b in row)
        data += line + b"\0" * (stride - len(line))
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


# ---- shapes: functions of (x, y) in pixels, true when inside -------------

def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 < r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 < r1 * r1


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (x0, y0), (x1, y1) = points[i], points[(i + 1) % n]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                hit = not hit
        return hit
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(a, b):
    return lambda x, y: a(x, y) and not b(x, y)


def line(x0, y0, x1, y1, w):
    dx, dy = x1 - x0, y1 - y0
    length = math.hypot(dx, dy) or 1
    nx, ny = -dy / length * w / 2, dx / length * w / 2
    return polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)])


# A 5 x 7 pixel font for the few captions drawn.
FONT = {
    "A": "01110 10001 10001 11111 10001 10001 10001", "C": "01110 10001 10000 10000 10000 10001 01110",
    "D": "11110 10001 10001 10001 10001 10001 11110", "E": "11111 10000 10000 11110 10000 10000 11111",
    "I": "01110 00100 00100 00100 00100 00100 01110", "L": "10000 10000 10000 10000 10000 10000 11111",
    "N": "10001 11001 10101 10011 10001 10001 10001", "O": "01110 10001 10001 10001 10001 10001 01110",
    "P": "11110 10001 10001 11110 10000 10000 10000", "R": "11110 10001 10001 11110 10100 10010 10001",
    "S": "01111 10000 10000 01110 00001 00001 11110", "T": "11111 00100 00100 00100 00100 00100 00100",
    "U": "10001 10001 10001 10001 10001 10001 01110", "V": "10001 10001 10001 10001 10001 01010 00100",
    "W": "10001 10001 10001 10101 10101 10101 01010", "G": "01110 10001 10000 10111 10001 10001 01111",
    "H": "10001 10001 10001 11111 10001 10001 10001", "K": "10001 10010 10100 11000 10100 10010 10001",
    " ": "00000 00000 00000 00000 00000 00000 00000", ".": "00000 00000 00000 00000 00000 01100 01100",
    "2": "01110 10001 00001 00010 00100 01000 11111", "0": "01110 10001 10011 10101 11001 10001 01110",
}


def text(s, x0, y0, scale):
    cells = []
    for i, ch in enumerate(s):
        rows = FONT[ch].split()
        for ry, row in enumerate(rows):
            for rx, bit in enumerate(row):
                if bit == "1":
                    cells.append(rect(x0 + (i * 6 + rx) * scale, y0 + ry * scale,
                                      x0 + (i * 6 + rx + 1) * scale, y0 + (ry + 1) * scale))
    return union(*cells) if cells else (lambda x, y: False)


def text_width(s, scale):
    return (len(s) * 6 - 1) * scale


# ---- glyphs, drawn in a w x 38 cell ---------------------------------------

def g_open(w):
    c = w / 2
    back = polygon([(c - 12, 11), (c - 4, 11), (c - 1, 14), (c + 11, 14), (c + 11, 28), (c - 12, 28)])
    front = polygon([(c - 9, 18), (c + 14, 18), (c + 10, 28), (c - 13, 28)])
    return [(INK, back), (FACE, polygon([(c - 9, 19.5), (c + 12, 19.5), (c + 9, 26.5), (c - 12, 26.5)])),
            (ACCENT, front)]


def g_save(w):
    c = w / 2
    body = polygon([(c - 11, 8), (c + 7, 8), (c + 11, 12), (c + 11, 30), (c - 11, 30)])
    return [(INK, body), (FACE, rect(c - 7, 8, c + 5, 16)), (INK, rect(c + 1, 10, c + 4, 15)),
            (ACCENT, rect(c - 7, 20, c + 7, 30))]


def g_prev(w):
    c = w / 2
    return [(INK, polygon([(c + 5, 10), (c + 5, 28), (c - 6, 19)]))]


def g_next(w):
    c = w / 2
    return [(INK, polygon([(c - 5, 10), (c - 5, 28), (c + 6, 19)]))]


def g_full(w):
    c = w / 2
    frame = minus(rect(c - 12, 9, c + 12, 29), rect(c - 10, 11, c + 10, 27))
    corners = []
    for sx, sy in ((-1, -1), (1, -1), (-1, 1), (1, 1)):
        x, y = c + sx * 7, 19 + sy * 5
        corners.append(polygon([(x, y), (x - sx * 5, y), (x, y - sy * 5)]))
    return [(INK, frame), (ACCENT, union(*corners))]


def g_view(w):
    c = w / 2
    tiles = [rect(c - 11 + i * 8, 10 + j * 7, c - 5 + i * 8, 15 + j * 7) for i in range(3) for j in range(3)]
    return [(INK, union(*tiles[:4], *tiles[5:])), (ACCENT, tiles[4])]


def g_settings(w):
    c, cy = w / 2, 19
    teeth = []
    for k in range(8):
        a = k * math.pi / 4
        teeth.append(line(c + 6 * math.cos(a), cy + 6 * math.sin(a), c + 11 * math.cos(a), cy + 11 * math.sin(a), 4.5))
    return [(INK, minus(union(circle(c, cy, 8), *teeth), circle(c, cy, 3.5)))]


def g_openwith(w):
    c = w / 2
    box = minus(rect(c - 12, 12, c + 6, 30), rect(c - 10, 14, c + 4, 28))
    arrow = union(line(c - 4, 22, c + 8, 10, 3), polygon([(c + 12, 6), (c + 11, 16), (c + 2, 7)]))
    return [(INK, minus(box, rect(c - 2, 10, c + 8, 20))), (ACCENT, arrow)]


def g_update(w):
    cx, cy = 19, 19
    arc = minus(ring(cx, cy, 6.5, 10), polygon([(cx, cy), (cx + 14, cy - 4), (cx + 14, cy + 6)]))
    head = polygon([(cx + 5, cy - 10), (cx + 12, cy - 3), (cx + 3, cy - 1)])
    return [(ACCENT, union(arc, head)), (INK, union(text("CHECK", 33, 11, 1), text("UPDATE", 33, 21, 1)))]


def g_placeholder(index):
    def glyph(w):
        c = w / 2
        shapes = [rect(c - 9, 11, c + 9, 27), circle(c, 19, 8), polygon([(c, 10), (c + 9, 28), (c - 9, 28)]),
                  union(rect(c - 9, 17, c + 9, 21), rect(c - 2, 10, c + 2, 28)), ring(c, 19, 5, 9),
                  polygon([(c - 9, 10), (c + 9, 10), (c, 28)]), union(circle(c - 5, 19, 4), circle(c + 5, 19, 4))]
        return [(GREY, shapes[index])]
    return glyph


# ---- frames ---------------------------------------------------------------

def render(w, h, background, layers, border=None, shift=0, tint=None):
    """background: a colour, or a function of the row giving one."""
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            if border and (x in (0, w - 1) or y in (0, h - 1)):
                row.append(border)
                continue
            colour = list(background(y) if callable(background) else background)
            for ink, shape in layers:
                if tint and ink != FACE:
                    ink = tint
                hits = sum(1 for sy in range(SS) for sx in range(SS)
                           if shape(x - shift + (sx + 0.5) / SS, y - shift + (sy + 0.5) / SS))
                if hits:
                    a = hits / (SS * SS)
                    colour = [round(c * (1 - a) + i * a) for c, i in zip(colour, ink)]
            row.append(tuple(colour))
        rows.append(row)
    return rows


def strip(w, glyph):
    layers = glyph(w)
    frames = [render(w, HEIGHT, FACE, layers), render(w, HEIGHT, HOVER, layers, EDGE),
              render(w, HEIGHT, PRESSED, layers, EDGE, shift=1), render(w, HEIGHT, FACE, layers, tint=GREY)]
    return [sum((f[y] for f in frames), []) for y in range(HEIGHT)]


def separator():
    rows = []
    for y in range(48):
        rows.append([FACE, FACE, (200, 205, 212), (255, 255, 255), FACE, FACE])
    return rows


def banner():
    w = 217
    title = "VISTREL VIEWER 2.0"
    layers = [(INK, text(title, (w - text_width(title, 1)) // 2, 9, 1)),
              (ACCENT, text("ORVANTA", (w - text_width("ORVANTA", 2)) // 2, 19, 2))]
    return render(w, HEIGHT, FACE, layers)


def product():
    """The About box's picture: the program's landscape beside its name, on
    a band fading from the viewer's background colour to white."""
    w, h = 240, 48
    top = (92, 139, 180)
    band = lambda y: tuple(round(c + (255 - c) * y / (h - 1)) for c in top)
    title = "VISTREL VIEWER"
    layers = [((60, 60, 60), rect(6, 5, 46, 43)),
              ((150, 200, 235), rect(7, 6, 45, 42)),
              ((250, 210, 60), circle(35, 15, 5)),
              ((70, 150, 70), polygon([(7, 34), (18, 26), (30, 31), (45, 25), (45, 42), (7, 42)])),
              ((50, 120, 55), rect(7, 38, 45, 42)),
              ((255, 255, 255), text(title, 56, 8, 2)),
              (INK, text("ORVANTA  2.0", 57, 30, 1))]
    return render(w, h, band, layers)


def menu_picture(layers):
    return render(20, 20, (255, 255, 255), layers)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)

    def save(name, rows):
        with open(os.path.join(out, name), "wb") as f:
            f.write(bmp(len(rows[0]), len(rows), rows))

    save("open.bmp", strip(40, g_open))
    save("saveas.bmp", strip(40, g_save))
    save("previous.bmp", strip(30, g_prev))
    save("next.bmp", strip(30, g_next))
    save("fullscreen.bmp", strip(40, g_full))
    save("view.bmp", strip(40, g_view))
    save("separator.bmp", separator())
    save("settings.bmp", strip(40, g_settings))
    save("openwith.bmp", strip(40, g_openwith))
    save("update.bmp", strip(79, g_update))
    save("banner.bmp", banner())
    save("product.bmp", product())
    for i in range(7):
        save("editor%d.bmp" % i, render(40, HEIGHT, FACE, g_placeholder(i)(40)))
    # Menu pictures, 20 x 20.
    save("menu_help.bmp", menu_picture([(ACCENT, minus(circle(10, 10, 8.5), circle(10, 10, 6.5))),
                                        (INK, union(rect(9, 9, 11, 15), rect(9, 5, 11, 7)))]))
    save("menu_about.bmp", menu_picture([(INK, minus(rect(3, 3, 17, 17), rect(5, 5, 15, 15))),
                                         (ACCENT, polygon([(5, 15), (9, 9), (12, 13), (13, 11), (15, 15)]))]))
    meridian = lambda x, y: 0.55 < ((x - 10) / 4) ** 2 + ((y - 10) / 8.5) ** 2 < 1
    save("menu_visit.bmp", menu_picture([(ACCENT, union(ring(10, 10, 7, 8.5), meridian, rect(2, 9.2, 18, 10.8),
                                                        rect(9.2, 2, 10.8, 18)))]))
    save("menu_update.bmp", menu_picture([(ACCENT, union(
        minus(ring(10, 10, 4.5, 7.5), polygon([(10, 10), (18, 7), (18, 14)])),
        polygon([(13, 2), (18, 7), (12, 9)])))]))
    teeth = [line(10 + 4 * math.cos(k * math.pi / 4), 10 + 4 * math.sin(k * math.pi / 4),
                  10 + 8 * math.cos(k * math.pi / 4), 10 + 8 * math.sin(k * math.pi / 4), 3) for k in range(8)]
    save("menu_settings.bmp", menu_picture([(INK, minus(union(circle(10, 10, 5), *teeth), circle(10, 10, 2.2)))]))


if __name__ == "__main__":
    main()
