#!/bin/sh
# The Windows host started from a Unix shell under Wine, whose descriptors Wine
# makes its standard handles: an output that is the file standard output goes
# to, by its name or another hard link, is refused before anything is written.
# Usage: host_from_unix_shell_test.sh WINE PELINDRA.exe EXAMPLE.bmp
set -u
wine=$1
host=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$3" "$work/in.bmp"
cd "$work" || exit 1
failures=0
check() { # description, expected, actual
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

"$wine" "$host" in.bmp so.bmp 5 >so.bmp 2>/dev/null
check "output named like the redirection" "2 0" "$? $(wc -c <so.bmp)"
ln so.bmp link.bmp
"$wine" "$host" in.bmp link.bmp 5 >so.bmp 2>/dev/null
check "hard link of the redirection" "2 0" "$? $(wc -c <so.bmp)"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks of the host from a Unix shell passed"
