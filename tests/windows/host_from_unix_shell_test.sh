#!/bin/sh
# The Windows host started from a Unix shell under Wine, as a user there starts
# it: Wine builds its standard handles from the shell's descriptors. An output
# that is the file standard output goes to, by its name or another hard link,
# is refused before anything is written; the error line goes to standard error.
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

"$wine" "$host" in.bmp so.bmp 5 >so.bmp 2>err.txt
check "output named like the redirection exit" 2 $?
check "output named like the redirection, nothing written" 0 "$(wc -c <so.bmp)"
ln so.bmp link.bmp
"$wine" "$host" in.bmp link.bmp 5 >so.bmp 2>err.txt
check "hard link of the redirection exit" 2 $?
check "hard link of the redirection, nothing written" 0 "$(wc -c <so.bmp)"

"$wine" "$host" missing.bmp x.bmp 5 >out.txt 2>err.txt
check "missing input exit" 1 $?
check "missing input line" "Error: Cannot open input file 'missing.bmp'" "$(tr -d '\r' <err.txt)"
"$wine" "$host" in.bmp x.bmp 5 >out.txt 2>err.txt
check "report exit" 0 $?
check "report's last line" "Output saved to: x.bmp" "$(tr -d '\r' <out.txt | tail -1)"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks of the host from a Unix shell passed"
