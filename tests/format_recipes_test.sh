#!/usr/bin/env bash
# The README's and man page's recipes for other formats, run where the tools are
# installed (ImageMagick's convert, Python with Pillow); 77 (skipped) when neither
# is. Usage: format_recipes_test.sh PELINDRA EXAMPLE.bmp
set -u
host=$1
example=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
ran=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
# Every command of the pipeline succeeded, and wrote a PNG of the example's size.
check_pipeline() { # recipe, statuses, png
    ran=$((ran + 1))
    [ "$2" = "0 0 0" ] || fail "$1: exit statuses $2"
    local size
    size=$(python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read(24)
print(*struct.unpack(">II", data[16:24]) if data[:8] == b"\x89PNG\r\n\x1a\n" else ["none"])' "$3")
    [ "$size" = "320 200" ] || fail "$1: PNG of 320 x 200 expected, got [$size]"
}

if convert -version 2>/dev/null | grep -q '^Version: ImageMagick'; then
    # A photo as a JPEG, and a BMP with alpha that pelindra itself refuses.
    convert "$example" "$work/photo.jpg"
    convert "$example" -alpha set "$work/alpha.bmp"
    "$host" "$work/alpha.bmp" "$work/x.bmp" >"$work/out" 2>&1 && fail "ImageMagick: 32-bit BMP accepted"
    for photo in photo.jpg alpha.bmp; do
        convert "$work/$photo" -alpha off -type truecolor bmp3:- | "$host" - - 100 2>/dev/null |
            convert - "$work/stars.png"
        check_pipeline "ImageMagick from $photo" "${PIPESTATUS[*]}" "$work/stars.png"
    done
else
    echo "SKIP: ImageMagick's convert is not installed (Debian: imagemagick)"
fi

# The first Python on the way that has Pillow (Debian's python3-pil serves
# /usr/bin/python3, which another python3 may stand in front of).
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import PIL' 2>/dev/null; then
        python=$candidate
        break
    fi
done
if [ -n "$python" ]; then
    "$python" -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).convert("RGBA").save(sys.argv[2])' "$example" "$work/photo.png"
    "$python" -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).convert("RGB").save(sys.stdout.buffer, "BMP")' "$work/photo.png" |
        "$host" - - 100 2>/dev/null |
        "$python" -c 'import sys; from PIL import Image
Image.open(sys.stdin.buffer).save(sys.argv[1])' "$work/stars.png"
    check_pipeline Pillow "${PIPESTATUS[*]}" "$work/stars.png"
else
    echo "SKIP: Python's Pillow is not installed (Debian: python3-pil)"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
[ "$ran" -ne 0 ] || exit 77
echo "$ran recipe(s) passed"
