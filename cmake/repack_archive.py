#!/usr/bin/env python3
"""Writes a release archive (.tar.gz or .zip) again so that the same tree
always gives the same bytes: entries in name order, every time set to the
source date, owned by root, and a gzip header without name or time.

Usage: repack_archive.py ARCHIVE SOURCE_DATE_EPOCH
"""
import gzip
import io
import sys
import tarfile
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01, the first time a zip entry can hold


def repack_tar(path, epoch):
    with tarfile.open(path, "r:gz") as old:
        members = sorted(old.getmembers(), key=lambda member: member.name)
        data = {m.name: old.extractfile(m).read() for m in members if m.isfile()}
    tar = io.BytesIO()
    with tarfile.open(fileobj=tar, mode="w", format=tarfile.GNU_FORMAT) as new:
        for member in members:
            member.mtime = epoch
            member.uid = member.gid = 0
            member.uname = member.gname = "root"
            contents = io.BytesIO(data[member.name]) if member.isfile() else None
            new.addfile(member, contents)
    with open(path, "wb") as file, gzip.GzipFile(
        filename="", mode="wb", fileobj=file, mtime=0, compresslevel=9
    ) as compressed:
        compressed.write(tar.getvalue())


def repack_zip(path, epoch):
    stamp = time.gmtime(max(epoch, ZIP_EARLIEST))[:6]
    with zipfile.ZipFile(path) as old:
        entries = sorted(old.infolist(), key=lambda entry: entry.filename)
        data = {entry.filename: old.read(entry) for entry in entries}
    with zipfile.ZipFile(path, "w") as new:
        for entry in entries:
            info = zipfile.ZipInfo(entry.filename, stamp)
            info.create_system = 3  # Unix, so that the modes below are read
            info.external_attr = entry.external_attr
            info.compress_type = zipfile.ZIP_STORED if entry.is_dir() else zipfile.ZIP_DEFLATED
            new.writestr(info, data[entry.filename], compresslevel=9)


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    if path.endswith(".tar.gz"):
        repack_tar(path, epoch)
    elif path.endswith(".zip"):
        repack_zip(path, epoch)
    else:
        sys.exit(f"repack_archive.py: no rule for {path}")


main()
