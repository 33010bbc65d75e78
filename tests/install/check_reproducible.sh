#!/usr/bin/env bash
# The native release files are the same bytes when built again from the same
# commit in another folder, at another time: builds a fresh clone of HEAD at a
# longer path with the "release" workflow and compares its files with DIST's.
# DIST must have been made from HEAD with nothing uncommitted, as in CI. Then
# the same for a tree exported without git (`git archive`, as a source release
# travels): two exports built in two folders, seconds apart, give the same
# bytes.
#
# Usage: check_reproducible.sh DIST SOURCE_DIR
set -euo pipefail
dist=$(realpath "$1")
source_dir=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clone="$work/a/longer/path/than/the/first/morvanepelindra"
git clone --quiet --no-local "$source_dir" "$clone"
(cd "$clone" && cmake --workflow --preset release >"$work/release.log" 2>&1) || {
    cat "$work/release.log" >&2
    exit 1
}
status=0
compared=0
for file in "$clone"/dist/*.deb "$clone"/dist/*.tar.gz; do
    name=$(basename "$file")
    if cmp -s "$file" "$dist/$name"; then
        compared=$((compared + 1))
    else
        echo "FAIL: $name differs between two builds of the same commit" >&2
        status=1
    fi
done
[ "$compared" -ge 4 ] || [ "$status" -ne 0 ] || {
    echo "FAIL: only $compared release files were compared" >&2
    status=1
}
[ "$status" -ne 0 ] || echo "the $compared native release files are the same bytes from another folder"

for export in first second; do
    tree="$work/$export/morvanepelindra"
    mkdir -p "$tree"
    git -C "$source_dir" archive HEAD | tar -x -C "$tree"
    (cd "$tree" && cmake --workflow --preset release >"$work/release.log" 2>&1) || {
        cat "$work/release.log" >&2
        exit 1
    }
    [ "$export" = second ] || sleep 2 # another second of configuring
done
compared=0
for file in "$work"/first/morvanepelindra/dist/*.deb "$work"/first/morvanepelindra/dist/*.tar.gz; do
    name=$(basename "$file")
    if cmp -s "$file" "$work/second/morvanepelindra/dist/$name"; then
        compared=$((compared + 1))
    else
        echo "FAIL: $name differs between two builds of one git archive export" >&2
        status=1
    fi
done
[ "$compared" -ge 4 ] || [ "$status" -ne 0 ] || {
    echo "FAIL: only $compared release files of the exports were compared" >&2
    status=1
}
[ "$status" -ne 0 ] || echo "the $compared release files of two git archive exports are the same bytes"
exit "$status"
