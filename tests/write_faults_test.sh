#!/usr/bin/env bash
# Every kind of write the job makes to its output, failed by the kernel
# itself (strace's fault injection) at its first, second, third and last
# call: the job either ends with status 0 and the bytes of a clean run, or
# with status 1, an "Error: " line, the old file as it was and nothing beside
# it; a file written in place (it has a second name) may be left incomplete. The job's closes are failed the same way, at their last three calls.
# Skipped (77) where strace cannot inject faults.
#
# Usage: write_faults_test.sh PELINDRA
set -u
host=$1
command -v strace >/dev/null 2>&1 || { echo "strace is not installed"; exit 77; }
strace -f -o /dev/null -e inject=getpid:error=EPERM true 2>/dev/null ||
    { echo "strace cannot inject faults here"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# A 4096 x 4096 image: few stars leave most rows to the kernel copy, many
# draw them all in memory.
{
    printf 'BM\x36\x00\x00\x03\x00\x00\x00\x00\x36\x00\x00\x00'
    printf '\x28\x00\x00\x00\x00\x10\x00\x00\x00\x10\x00\x00\x01\x00\x18\x00'
    head -c 24 /dev/zero
    head -c $((4096 * 4096 * 3)) /dev/zero | tr '\0' '\100'
} >in.bmp
printf 'old contents' >old.bmp

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

for stars in 5 5000; do
    "$host" -q --seed 5 in.bmp clean.bmp "$stars" || { echo "clean run failed"; exit 1; }
    for syscall in write pwrite64 copy_file_range close; do
        for mode in new replacing linked; do
            rm -rf d && mkdir d
            prepare() {
                [ "$mode" = new ] || cp old.bmp d/out.bmp
                [ "$mode" != linked ] || ln d/out.bmp d/other.bmp # written in place
            }
            prepare
            # How many of these calls a clean run makes, for the last one.
            calls=$(strace -f -qq -e trace="$syscall" -o /dev/stdout \
                "$host" -q --seed 5 in.bmp d/out.bmp "$stars" 2>/dev/null | grep -c "$syscall(")
            [ "$calls" -gt 0 ] || continue
            # The first closes are the loader's, before the job: the job's
            # are the last ones.
            positions="1 2 3 $calls"
            [ "$syscall" = close ] && positions="$((calls - 2)) $((calls - 1)) $calls"
            for when in $positions; do
                [ "$when" -ge 1 ] && [ "$when" -le "$calls" ] || continue
                for error in ENOSPC EINTR; do
                    rm -rf d && mkdir d
                    prepare
                    before=$(cd d && ls -a | LC_ALL=C sort | tr '\n' ' ')
                    strace -f -o /dev/null -e inject="$syscall:error=$error:when=$when" \
                        "$host" -q --seed 5 in.bmp d/out.bmp "$stars" >report 2>&1
                    status=$?
                    case="$stars stars, $mode, $syscall call $when of $calls: $error"
                    if [ "$status" -eq 0 ]; then
                        cmp -s d/out.bmp clean.bmp || fail "$case: status 0 but not the clean bytes"
                    elif [ "$status" -eq 1 ]; then
                        grep -q '^Error: ' report || fail "$case: status 1 without an error line"
                        after=$(cd d && ls -a | LC_ALL=C sort | tr '\n' ' ')
                        [ "$after" = "$before" ] || fail "$case: left '$after' where '$before' was"
                        if [ "$mode" = replacing ]; then
                            cmp -s d/out.bmp old.bmp || fail "$case: the old file was changed"
                        fi
                    else
                        fail "$case: status $status"
                    fi
                done
            done
        done
    done
done

if [ "$failures" -gt 0 ]; then
    echo "$failures failed"
    exit 1
fi
echo "every injected write failure ended whole or refused"
