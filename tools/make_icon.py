#!/usr/bin/env python3
"""Draws the application icon (a landscape: sky, sun, hills) as a 32 x 32
and a 16 x 16 32-bit icon. usage: make_icon.py OUT.ico"""
import struct
import sys


def pixel(fx, fy):
    if (fx - 0.72) ** 2 + (fy - 0.28) ** 2 < 0.018:
        return (250, 210, 60)
    if fy > 0.8:
        return (50, 120, 55)
    if fy > 0.62 + 0.18 * ((fx - 0.35) ** 2 * 4 - 0.2):
        return (70, 150, 70)
    return (int(120 + 100 * fy), int(170 + 60 * fy), 235)


def image(n):
    rows = []
    for y in range(n):
        row = b""
        for x in range(n):
            edge = x in (0, n - 1) or y in (0, n - 1)
            r, g, b = (60, 60, 60) if edge else pixel(x / (n - 1), y / (n - 1))
            row += bytes((b, g, r, 255))
        rows.append(row)
    data = b"".join(reversed(rows))  # bottom-up
    mask = b"\0" * (((n + 31) // 32) * 4 * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, n * 2, 1, 32, 0, len(data) + len(mask), 0, 0, 0, 0)
    return header + data + mask


def main():
    sizes = (32, 16)
    images = [image(n) for n in sizes]
    offset = 6 + 16 * len(images)
    entries, blob = b"", b""
    for n, im in zip(sizes, images):
        entries += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(im), offset + len(blob))
        blob += im
    with open(sys.argv[1], "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + blob)


if __name__ == "__main__":
    main()
