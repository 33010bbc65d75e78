#!/usr/bin/env python3
"""Converts an uncompressed 24-bit BMP to PNG with the standard library alone,
for showing pictures in the README: bmp_to_png.py IN.bmp OUT.png [SCALE]."""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    rows = abs(height)
    stride = (width * 3 + 3) // 4 * 4
    picture = []
    for i in range(rows):
        start = offset + i * stride
        line = data[start:start + width * 3]
        picture.append([(line[3 * x + 2], line[3 * x + 1], line[3 * x]) for x in range(width)])
    if height > 0:
        picture.reverse()  # bottom-up file: first stored row is the bottom line
    return picture


def write_png(path, picture, scale):
    width = len(picture[0]) * scale
    raw = bytearray()
    for row in picture:
        line = bytearray([0])
        for pixel in row:
            line += bytes(pixel) * scale
        raw += bytes(line) * scale

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, len(picture) * scale, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                  + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    write_png(sys.argv[2], read_bmp(sys.argv[1]), int(sys.argv[3]) if len(sys.argv) > 3 else 1)
