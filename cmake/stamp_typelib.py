#!/usr/bin/env python3
"""Gives a type library from widl the source date instead of the time it was
made: widl writes that time twice, as text ("Created by WIDL ... at <ctime>")
and as a 32-bit number, and has no way to be told another.

Usage: stamp_typelib.py TYPELIB SOURCE_DATE_EPOCH
"""
import re
import struct
import sys
import time


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    with open(path, "rb") as file:
        data = file.read()
    made = re.search(rb" at (\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4})", data)
    if made is None:
        sys.exit(f"stamp_typelib.py: no creation time in {path}")
    text = made.group(1)
    # widl prints its local time; read it back the same way.
    seconds = int(time.mktime(time.strptime(text.decode(), "%a %b %d %H:%M:%S %Y")))
    number = struct.pack("<I", seconds)
    if data.count(number) != 1:
        sys.exit(f"stamp_typelib.py: the creation time of {path} is not where it should be")
    data = data.replace(text, time.asctime(time.gmtime(epoch)).encode())
    data = data.replace(number, struct.pack("<I", epoch))
    with open(path, "wb") as file:
        file.write(data)


main()
