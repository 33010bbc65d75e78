#!/usr/bin/env bash
# A disk that fills within the image's last pieces: a small tmpfs with one or
# two pages free. The job either writes the whole image or fails with an
# "Error: " line, leaving an older output as it was and nothing beside it.
# Skipped (77) where tmpfs cannot be mounted here.
#
# Usage: full_disk_test.sh EMULATOR HOST INPUT (INPUT unused: the image is
# made here, small enough for the file system)
set -u
emulator=$1
host=$2
work=$(mktemp -d)
cleanup() {
    umount "$work/small" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
mkdir small
mount -t tmpfs -o size=64k tmpfs small 2>/dev/null || { echo "SKIPPED: cannot mount a tmpfs here"; exit 77; }

# 50 x 60 pixels: 54 + 60 * 152 = 9,174 bytes, three pages.
{
    printf 'BM\xd6\x23\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
    printf '\x28\x00\x00\x00\x32\x00\x00\x00\x3c\x00\x00\x00\x01\x00\x18\x00'
    head -c 24 /dev/zero
    head -c 9120 /dev/zero | tr '\0' '\120'
} >in.bmp
"$emulator" "$host" -q --seed 4 in.bmp whole.bmp 3 || exit 1

status=0
for old in no yes; do
    for pagesFree in 1 2; do
        rm -rf small/*
        [ "$old" = yes ] && printf old >small/out.bmp
        before=$(ls -A small)
        total=$(df -B1 --output=avail small | tail -n 1)
        head -c $((total - pagesFree * 4096)) /dev/zero >small/filler 2>/dev/null
        "$emulator" "$host" -q --seed 4 in.bmp 'small\out.bmp' 3 >report 2>&1
        result=$?
        rm -f small/filler
        case="old output $old, $pagesFree pages free"
        if [ "$result" -eq 0 ]; then
            cmp -s small/out.bmp whole.bmp || { echo "$case: status 0, not the whole image"; status=1; }
        elif [ "$result" -eq 1 ] && grep -q '^Error: ' report; then
            [ "$(ls -A small)" = "$before" ] || { echo "$case: left $(ls -A small)"; status=1; }
            if [ "$old" = yes ] && [ "$(cat small/out.bmp)" != old ]; then
                echo "$case: the old output was changed"
                status=1
            fi
        else
            echo "$case: status $result"; cat report
            status=1
        fi
    done
done
exit "$status"
