#!/usr/bin/env bash
# The installed-style host end to end: exit statuses, streams, and that a seed
# makes a run repeatable. Usage: host_command_line_test.sh PELINDRA EXAMPLE.bmp
set -u
host=$1
example=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # description, expected, actual
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

"$host" --version >"$work/out" 2>&1
check "--version exit" 0 $?
check "--version text" "pelindra 1.0.0.1" "$(cat "$work/out")"

"$host" --help >"$work/out" 2>&1
check "--help exit" 0 $?
grep -q '^Usage: pelindra' "$work/out" || check "--help text" "Usage line" "$(head -1 "$work/out")"

"$host" "$example" "$work/x.bmp" lots >"$work/out" 2>"$work/err"
check "bad count exit" 2 $?
check "bad count stdout" "" "$(cat "$work/out")"
grep -q "star count 'lots'" "$work/err" || check "bad count message" "star count 'lots'" "$(cat "$work/err")"
[ -e "$work/x.bmp" ] && check "bad count output" "no file" "file"

# The report on standard output, its error line on standard error, where
# scripts look for it.
"$host" "$work/missing.bmp" "$work/x.bmp" 3 >"$work/out" 2>"$work/err"
check "missing input exit" 1 $?
check "missing input stdout" "Adds stars to a BMP image" "$(tail -2 "$work/out")"
check "missing input line" "Error: Cannot open input file '$work/missing.bmp'" "$(cat "$work/err")"

"$host" --seed 99 "$example" "$work/a.bmp" 40 >"$work/out" 2>&1
check "seeded run exit" 0 $?
check "seeded run last line" "Output saved to: $work/a.bmp" "$(tail -1 "$work/out")"
"$host" --seed 99 "$example" "$work/b.bmp" 40 >/dev/null 2>&1
cmp -s "$work/a.bmp" "$work/b.bmp" || check "same seed, same picture" same different
"$host" --seed 100 "$example" "$work/c.bmp" 40 >/dev/null 2>&1
cmp -s "$work/a.bmp" "$work/c.bmp" && check "other seed, other picture" different same
cmp -s "$example" "$work/a.bmp" && check "stars were drawn" different same

if [ -w /dev/full ]; then
    for option in --help --version; do
        "$host" $option >/dev/full 2>"$work/err"
        check "$option to a full device exit" 1 $?
        check "$option to a full device message" "pelindra: write error" "$(cat "$work/err")"
    done
    "$host" "$example" /dev/full 5 >/dev/null 2>"$work/err"
    check "full device exit" 1 $?
    check "full device line" "Error: Cannot write output file '/dev/full'" "$(cat "$work/err")"
fi

# The library's lines reach a pipe in order, flushed before the host exits.
lines=$("$host" --seed 1 "$example" "$work/d.bmp" 1 | wc -l)
check "lines through a pipe" 7 "$lines"

# '-' reads standard input and writes standard output; the report then goes
# to standard error, so the image arrives whole.
"$host" --seed 5 - - 9 <"$example" >"$work/dash.bmp" 2>"$work/err"
check "dash exit" 0 $?
"$host" --seed 5 "$example" "$work/named.bmp" 9 >/dev/null 2>&1
cmp -s "$work/dash.bmp" "$work/named.bmp" || check "dash image" same different
check "dash report on stderr" "Stars added successfully!" "$(sed -n 6p "$work/err")"
cat "$example" | "$host" --seed 5 - - 9 2>/dev/null | cmp -s - "$work/named.bmp" ||
    check "dash through pipes" same different

# The names of the host's own streams are '-', in every mode.
for option in -q --seed=5; do
    for name in /dev/stdout /dev/fd/1 /proc/self/fd/1; do
        timeout 20 "$host" $option --seed 5 "$example" "$name" 9 >"$work/own.bmp" 2>/dev/null
        check "$option $name exit" 0 $?
        cmp -s "$work/own.bmp" "$work/named.bmp" || check "$option $name image" same different
    done
done
# Another name of the file standard output goes to is refused, and nothing runs.
"$host" "$example" "$work/self.bmp" 3 >"$work/self.bmp" 2>/dev/null
check "output named like the redirection exit" 2 $?
"$host" "$example" - 3 >"$work/both.bmp" 2>&1
check "dash with stderr on stdout exit" 2 $?
grep -q '^Image size' "$work/both.bmp" && check "dash with stderr on stdout" "no report" "report"

# A reader that leaves early ends the job with its error line, not a signal.
"$host" "$example" - 3 2>"$work/err" | head -c 10 >/dev/null
status=${PIPESTATUS[0]}
check "reader gone exit" 1 "$status"
check "reader gone line" "pelindra: cannot write standard output: Broken pipe" \
    "$(tail -1 "$work/err")"

# '-' writes at the descriptor's own position, as cat would: after what the
# stream already holds, and in append mode; the next writer follows the image.
printf 'LOG\n' >"$work/log.bin"
"$host" --seed 5 - - 9 <"$example" >>"$work/log.bin" 2>/dev/null
check "appending exit" 0 $?
{ printf 'LOG\n'; cat "$work/named.bmp"; } | cmp -s - "$work/log.bin" || check "appending" same different
{ echo HEADER; "$host" --seed 5 "$example" - 9; echo TRAILER; } >"$work/group.bin" 2>/dev/null
{ echo HEADER; cat "$work/named.bmp"; echo TRAILER; } | cmp -s - "$work/group.bin" ||
    check "after earlier output" same different
{ "$host" --seed 5 "$example" - 9; echo TRAILER; } >"$work/group.bin" 2>/dev/null
{ cat "$work/named.bmp"; echo TRAILER; } | cmp -s - "$work/group.bin" ||
    check "into an empty file, then more" same different
# Standard input is read from where it stands, by any of its names, and left
# at its end.
{ echo LOG; cat "$example"; } >"$work/log.bin"
for name in - /dev/stdin /dev/fd/0 /proc/self/fd/0; do
    { read -r _; "$host" --seed 5 "$name" - 9 >"$work/offset.bmp" 2>/dev/null; } <"$work/log.bin"
    cmp -s "$work/offset.bmp" "$work/named.bmp" || check "input $name after a line" same different
done
{ "$host" - "$work/x.bmp" 3 >/dev/null; check "input left at its end" 0 "$(wc -c)"; } <"$example"
# '-' passes through pipes, and a stream that is no image is refused as soon
# as its header arrives, its writer stopped by a broken pipe rather than
# drained. The image is staged in a scratch file before it goes out: under a
# file size limit too small for it the job fails, writing nothing, and lives.
size=$( (ulimit -f 50; cat "$example" | "$host" -q --seed 5 - - 9 2>/dev/null | wc -c) )
check "pipes under a file size limit" 0 "$size"
size=$( (ulimit -f 500; cat "$example" | "$host" -q --seed 5 - - 9 | wc -c) )
check "pipes under a file size limit the image fits" "$(wc -c <"$work/named.bmp")" "$size"
head -c 100M /dev/zero | "$host" -q - "$work/x.bmp" 3 2>"$work/err"
check "no image, writer stopped" "141 1" "${PIPESTATUS[*]}"
check "no image" "Error: Not a valid BMP file" "$(cat "$work/err")"
# The image is written by descriptor 1 itself, not a file opened anew, so
# another writer's line written meanwhile stays; 3,000,000 stars take longer
# than its wait.
"$host" -q --seed 5 "$example" "$work/slow.bmp" 3000000
{ (sleep .2; echo SIBLING) & "$host" -q --seed 5 "$example" - 3000000; wait; } >"$work/group.bin"
python3 -c 'import sys; a, b = (open(f, "rb").read() for f in sys.argv[1:])
sys.exit(a.count(b"SIBLING\n") != 1 or a.replace(b"SIBLING\n", b"") != b)' "$work/group.bin" "$work/slow.bmp" ||
    check "another writer meanwhile" "image and line" "$(head -c 16 "$work/group.bin" | od -c | head -1)"

# Descriptors 0 to 2 closed: the image never takes the report's place, and a
# closed stream the job needs is said before it runs.
"$host" --seed 5 "$example" - 9 >"$work/closed.bmp" 2>&-
check "stderr closed exit" 0 $?
cmp -s "$work/closed.bmp" "$work/named.bmp" || check "stderr closed image" same different
"$host" -q "$example" "$work/closed.bmp" 9 >&-
check "quiet with stdout closed exit" 0 $?
closed() { # in|out, message, arguments
    local stream=$1 message=$2 && shift 2
    if [ "$stream" = in ]; then "$host" "$@" <&- 2>"$work/err"; else "$host" "$@" >&- 2>"$work/err"; fi
    check "$* with std$stream closed" "1 pelindra: $message" "$? $(cat "$work/err")"
}
rm -f "$work/x.bmp"
closed out "write error" --version
closed out "write error" --help
closed out "cannot write standard output: Bad file descriptor" -q "$example" - 5
closed out "cannot write standard output: Bad file descriptor" "$example" "$work/x.bmp" 5
closed in "cannot read standard input: Bad file descriptor" -q - "$work/x.bmp" 5
[ -e "$work/x.bmp" ] && check "closed stream output" "no file" "file"

# Nothing the host writes kills it: past a file size limit is status 1 and why.
# (The job stages an image under the limit in a scratch file.)
head -c 30000 /dev/zero >"$work/log.bin"
(ulimit -f 20; "$host" "$(dirname "$0")/data/odd-width.bmp" /dev/null 5 >>"$work/log.bin" 2>"$work/err")
check "report past the size limit" "1 pelindra: cannot write the report: File too large" \
    "$? $(cat "$work/err")"
head -c 250000 /dev/zero >"$work/log.bin"
(ulimit -f 300; "$host" -q - - 5 <"$example" >>"$work/log.bin" 2>"$work/err")
check "image past the size limit" "1 pelindra: cannot write standard output: File too large" \
    "$? $(tail -1 "$work/err")"

# Image and report both thrown away.
"$host" "$example" /dev/null >/dev/null
check "output and report to the null device" 0 $?
"$host" - - <"$example" >/dev/null 2>&1
check "dash, image and report to the null device" 0 $?

# A socket for both standard input and output, as inetd hands one over.
python3 - "$host" "$example" "$work/socket.bmp" <<'EOF'
import socket, subprocess, sys
host, example, result = sys.argv[1:]
ours, theirs = socket.socketpair()
job = subprocess.Popen([host, "--seed", "5", "-", "-", "9"], stdin=theirs, stdout=theirs,
                       stderr=subprocess.DEVNULL)
theirs.close()
with open(example, "rb") as image:
    ours.sendall(image.read())
ours.shutdown(socket.SHUT_WR)
with open(result, "wb") as out:
    while chunk := ours.recv(65536):
        out.write(chunk)
sys.exit(job.wait())
EOF
check "socket exit" 0 $?
cmp -s "$work/socket.bmp" "$work/named.bmp" || check "socket image" same different

# --quiet: silence on success; on failure only the error line, on stderr.
"$host" -q --seed 5 - - 9 <"$example" >"$work/quiet.bmp" 2>&1
check "quiet exit" 0 $?
cmp -s "$work/quiet.bmp" "$work/named.bmp" || check "quiet image, nothing else" same different
"$host" --quiet "$work/missing.bmp" "$work/x.bmp" 3 >"$work/out" 2>"$work/err"
check "quiet failure exit" 1 $?
check "quiet failure stdout" "" "$(cat "$work/out")"
check "quiet failure stderr" "Error: Cannot open input file '$work/missing.bmp'" "$(cat "$work/err")"

# As root: streams the process could not open by name (another user's files
# handed over by the shell), and '-' without /proc.
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && unshare -m true 2>/dev/null &&
    as_nobody "$host" --version >/dev/null 2>&1; then
    cp "$example" "$work/secret.bmp"
    : >"$work/secret-out.bmp"
    chmod 600 "$work/secret.bmp" "$work/secret-out.bmp"
    as_nobody "$host" --seed 5 - - 9 \
        <"$work/secret.bmp" >"$work/secret-out.bmp" 2>/dev/null
    check "unopenable streams exit" 0 $?
    cmp -s "$work/secret-out.bmp" "$work/named.bmp" || check "unopenable streams" same different
    # The loader finds a library beside the program through /proc as well, and
    # a sanitizer's runtime cannot start without it at all.
    without_proc() { unshare -m sh -c 'umount -l /proc && LD_LIBRARY_PATH=${1%/*} exec "$@"' - "$@"; }
    if without_proc "$host" --version >/dev/null 2>&1; then
        without_proc "$host" - - 5 <"$example" >/dev/null 2>"$work/err"
        check "without /proc exit" 2 $?
        grep -q "needs /proc" "$work/err" || check "without /proc" "needs /proc" "$(cat "$work/err")"
    fi
fi

"$host" "$example" "$work/x.bmp" " 5" >/dev/null 2>&1
check "count with a space exit" 2 $?

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all host checks passed"
