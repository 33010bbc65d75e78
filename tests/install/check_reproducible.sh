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

# Compares the .deb and .tar.gz files of dist folder $1 with those of $2; $3
# names the two builds. Any difference, or fewer than the four release files
# compared, fails the check.
status=0
compare_dists() {
    local compared=0 file name
    for file in "$1"/*.deb "$1"/*.tar.gz; do
        name=$(basename "$file")
        if cmp -s "$file" "$2/$name"; then
            compared=$((compared + 1))
        else
            echo "FAIL: $name differs between two builds of $3" >&2
            status=1
        fi
    done
    if [ "$compared" -lt 4 ]; then
        echo "FAIL: only $compared release files of $3 were compared" >&2
        status=1
    else
        echo "the $compared release files of $3 are the same bytes"
    fi
}

clone="$work/a/longer/path/than/the/first/morvanepelindra"
git clone --quiet --no-local "$source_dir" "$clone"
(cd "$clone" && cmake --workflow --preset release >"$work/release.log" 2>&1) || {
    cat "$work/release.log" >&2
    exit 1
}
compare_dists "$clone/dist" "$dist" "the same commit in two folders"

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
compare_dists "$work/first/morvanepelindra/dist" "$work/second/morvanepelindra/dist" \
    "one git archive export"
exit "$status"
