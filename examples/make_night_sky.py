#!/usr/bin/env python3
"""Paints examples/night-sky.bmp: a dark evening sky over a line of hills,
the kind of picture the library is meant to add stars to.

Uses only the standard library, and the same picture comes out on every run.
"""
import math
import random
import struct
import sys

WIDTH, HEIGHT = 320, 200


def sky_colour(x, y):
    """(r, g, b) of the sky at column x, row y (row 0 at the top)."""
    t = y / (HEIGHT - 1)
    r = 6 + 40 * t ** 3
    g = 10 + 28 * t ** 2
    b = 30 + 60 * t
    # A faint glow low in the west.
    glow = max(0.0, 1.0 - math.hypot((x - 60) / 160, (y - HEIGHT) / 90))
    return r + 70 * glow ** 2, g + 30 * glow ** 2, b + 10 * glow


def hill_top(x):
    return (HEIGHT - 38 + 12 * math.sin(x / 37.0) + 7 * math.sin(x / 13.0 + 1.3)
            + 4 * math.sin(x / 5.0 + 0.4))


def paint():
    rng = random.Random(20261208)
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            if y >= hill_top(x):
                r, g, b = 4, 8, 6
            else:
                r, g, b = sky_colour(x, y)
                n = rng.uniform(-2.0, 2.0)  # a little grain so the sky is not banded
                r, g, b = r + n, g + n, b + n
            row.append(tuple(max(0, min(255, int(round(v)))) for v in (r, g, b)))
        rows.append(row)
    # A crescent moon.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            d1 = math.hypot(x - 250, y - 45)
            d2 = math.hypot(x - 256, y - 41)
            if d1 <= 12 and d2 > 11:
                rows[y][x] = (236, 232, 205)
    return rows


def write_bmp(path, rows):
    """24-bit, bottom-up, uncompressed, with the 40-byte info header."""
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) // 4 * 4
    pixel_bytes = stride * height
    offset = 14 + 40
    with open(path, "wb") as out:
        out.write(struct.pack("<2sIHHI", b"BM", offset + pixel_bytes, 0, 0, offset))
        out.write(struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, pixel_bytes,
                              2835, 2835, 0, 0))
        for row in reversed(rows):  # bottom-up: the last picture row comes first
            data = bytearray()
            for r, g, b in row:
                data += bytes((b, g, r))
            data += b"\0" * (stride - width * 3)
            out.write(data)


if __name__ == "__main__":
    write_bmp(sys.argv[1] if len(sys.argv) > 1 else "night-sky.bmp", paint())
