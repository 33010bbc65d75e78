#!/usr/bin/env python3
"""Writes the seed corpora for the fuzz targets.

    make_corpus.py OUT_DIR

OUT_DIR/fuzz_load_bmp/ receives valid and near-valid BMP files for fuzz_load_bmp;
OUT_DIR/fuzz_job/ receives the same files framed for fuzz_job (star count, options,
fault, file length, file, random draws; see fuzz_job.cpp). The seeds cover
every row pad, top-down rows, a gap, offsets below the headers, rows longer
than a page, inputs cut mid-job, refused kernel copies, files cut at
the boundaries between their pieces, and the bit counts and compressions the
loader refuses, so the fuzzers start next to every branch of the loader.
"""

import os
import struct
import sys


def bmp(width, height, offset=54, bit_count=24, compression=0, trailing=0, pixels=True):
    stride = (width * 3 + 3) // 4 * 4 if width > 0 else 0
    rows = abs(height)
    gap = bytes((0xA0 + i) & 0xFF for i in range(max(offset - 54, 0)))
    data = b""
    if pixels and width > 0:
        data = bytes((0x10 + i) & 0xFF for i in range(rows * stride))
    body = gap + data + b"\x77" * trailing
    file_header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bit_count, compression,
                              len(data), 2835, 2835, 0, 0)
    return file_header + info_header + body


def seeds():
    files = {}
    for width, pad in ((4, 0), (3, 3), (2, 2), (1, 1)):
        files[f"pad{pad}"] = bmp(width, 3)
    files["top_down"] = bmp(5, -4)
    files["gap84"] = bmp(5, 3, offset=138)
    files["gap1"] = bmp(2, 2, offset=55)
    files["offset20"] = bmp(6, 2, offset=20)
    files["offset0"] = bmp(3, 1, offset=0)
    files["trailing"] = bmp(4, 2, trailing=9)
    files["one_pixel"] = bmp(1, 1)
    files["wide"] = bmp(40, 2)
    files["tall"] = bmp(2, 40)
    # More than a page of rows: with no stars they are copied, not read.
    files["pages"] = bmp(50, 30, offset=100)
    whole = bmp(5, 3, offset=138)
    for cut in (0, 13, 14, 53, 54, 100, 138, 139, len(whole) - 1):
        files[f"cut{cut}"] = whole[:cut]
    files["bit32"] = bmp(4, 3, bit_count=32)
    files["bit8"] = bmp(4, 3, bit_count=8)
    for compression in (1, 3, 6):
        files[f"compression{compression}"] = bmp(4, 3, compression=compression)
    files["zero_width"] = bmp(0, 3, pixels=False)
    files["zero_height"] = bmp(4, 0, pixels=False)
    files["huge"] = bmp(0x40000000, 4, pixels=False)
    files["not_bmp"] = b"MB" + bmp(4, 3)[2:]
    return files


def draws(count):
    values = [7, 11, 7, 2, 0, 0, 0, 0, 123456, 654321, 5, 1, 0x7FFFFFFF, 3, 2, 3]
    return b"".join(struct.pack("<I", values[i % len(values)]) for i in range(count))


def framed(file, stars, options=0, fault_index=0):
    header = struct.pack("<bBBH", stars, options, fault_index, len(file))
    return header + file + draws(4 * max(stars, 0))


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for target in ("fuzz_load_bmp", "fuzz_job"):
        os.makedirs(os.path.join(out, target), exist_ok=True)
    for name, file in seeds().items():
        with open(os.path.join(out, "fuzz_load_bmp", name + ".bmp"), "wb") as f:
            f.write(file)
        variants = {
            "": framed(file, 3),
            "_no_stars": framed(file, 0),
            "_pipe": framed(file, 2, options=1),
            "_in_place": framed(file, 1, options=4),
            "_over_old": framed(file, 2, options=2),
            "_fail_alloc1": framed(file, 1, options=1 << 4, fault_index=1),
            "_fail_write2": framed(file, 1, options=3 << 4, fault_index=2),
            "_fail_close1": framed(file, 1, options=4 << 4, fault_index=1),
            "_fail_place": framed(file, 1, options=5 << 4, fault_index=0),
            "_fail_temp": framed(file, 1, options=(2 << 4) | 2, fault_index=1),
            "_unnamed_over_old": framed(file, 2, options=8 | 2),
            "_unnamed_fail_place": framed(file, 1, options=(5 << 4) | 8 | 2),
            "_temp_denied": framed(file, 1, options=(8 << 4) | 2, fault_index=1),
            "_place_denied": framed(file, 1, options=(9 << 4) | 8 | 2),
            "_place_denied_in_place": framed(file, 1, options=(9 << 4) | 4),
            "_not_writable": framed(file, 1, options=(12 << 4) | 2),
            "_cut_at_draw": framed(file, 3, options=6 << 4, fault_index=5),
            "_no_kernel_copy": framed(file, 0, options=7 << 4, fault_index=0),
        }
        for suffix, data in variants.items():
            with open(os.path.join(out, "fuzz_job", name + suffix), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
