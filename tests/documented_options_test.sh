#!/usr/bin/env bash
# `pelindra --help`, the man page and the README's section on the host must
# name the same options. Usage: documented_options_test.sh PELINDRA MAN_SOURCE README
set -euo pipefail
host=$1
man_source=$2
readme=$3

options() { grep -o -- '--[a-z][a-z-]*' | sort -u | tr '\n' ' '; }
from_help=$("$host" --help | options)
# In roff a minus is written \-.
from_man=$(sed 's/\\-/-/g' "$man_source" | options)
from_readme=$(sed -n '/^## The host/,/^## /p' "$readme" | options)

status=0
compare() { # where, options named there
    if [ "$2" != "$from_help" ]; then
        echo "FAIL: the $1 names [$2], --help [$from_help]"
        status=1
    fi
}
compare "man page" "$from_man"
compare README "$from_readme"
[ "$status" -ne 0 ] || echo "--help, man page and README name the same options: $from_help"
exit "$status"
