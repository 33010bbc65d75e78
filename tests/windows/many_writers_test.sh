#!/usr/bin/env bash
# Several processes replacing one output at once, each ten times: every run
# succeeds, and what is left is one whole image and nothing beside it.
#
# Usage: many_writers_test.sh EMULATOR HOST INPUT
set -u
emulator=$1
host=$2
input=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
cp "$input" "$work/in.bmp"
cd "$work" || exit 1
for writer in 1 2 3 4; do
    (
        failed=0
        for run in 1 2 3 4 5 6 7 8 9 10; do
            "$emulator" "$host" -q --seed "$writer" in.bmp 'out\out.bmp' 0 || failed=$((failed + 1))
        done
        echo "$failed" >"failed-$writer"
    ) &
done
wait
status=0
failures=$(cat failed-* | awk '{s += $1} END {print s + 0}')
[ "$failures" -eq 0 ] || { echo "$failures of 40 runs failed"; status=1; }
entries=$(ls -A out | tr '\n' ' ')
[ "$entries" = "out.bmp " ] || { echo "left in the folder: $entries"; status=1; }
cmp -s out/out.bmp in.bmp || { echo "the output is not a whole image"; status=1; }
exit "$status"
