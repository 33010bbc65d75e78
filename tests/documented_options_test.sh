#!/usr/bin/env bash
# `pelindra --help`, the man page and the README's section on the host must
# name the same options. Usage: documented_options_test.sh PELINDRA MAN_SOURCE README
set -euo pipefail
host=$1
man_source=$2
readme=$3

help=$("$host" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
# In roff a minus is written \-.
man=$(sed 's/\\-/-/g' "$man_source" | grep -o -- '--[a-z][a-z-]*' | sort -u)
readme=$(sed -n '/^## The host/,/^## /p' "$readme" | grep -o -- '--[a-z][a-z-]*' | sort -u)

status=0
for source in man readme; do
    if [ "${!source}" != "$help" ]; then
        echo "FAIL: options in the $source differ from --help:"
        diff <(echo "$help") <(echo "${!source}") || true
        status=1
    fi
done
[ "$status" -ne 0 ] || echo "--help, man page and README name the same options: $(echo $help)"
exit "$status"
