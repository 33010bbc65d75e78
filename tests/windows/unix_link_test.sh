#!/usr/bin/env bash
# An output that is a symbolic link made on the Unix side, which Wine shows
# as a plain file, is written through, as a plain open would: the file it
# points to gets the image, the link stays, and nothing else changes.
#
# Usage: unix_link_test.sh EMULATOR HOST INPUT
set -u
emulator=$1
host=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$3" in.bmp
mkdir d
printf old >d/t.bmp
ln -s d/t.bmp link.bmp
"$emulator" "$host" -q --seed 3 in.bmp link.bmp 5 || exit 1
"$emulator" "$host" -q --seed 3 in.bmp plain.bmp 5 || exit 1
status=0
[ -L link.bmp ] || { echo "the link was replaced"; status=1; }
cmp -s d/t.bmp plain.bmp || { echo "the linked file does not hold the image"; status=1; }
[ "$(ls -A d)" = t.bmp ] || { echo "left beside the linked file: $(ls -A d)"; status=1; }
exit "$status"
