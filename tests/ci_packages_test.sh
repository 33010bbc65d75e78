#!/usr/bin/env bash
# The CI install steps on a broken mirror, with stand-ins for the package
# tools (nothing is installed): a failed `apt-get update` and refused i386
# packages leave 32-bit Wine out with one line each, while any other package
# that cannot be installed still fails. Usage: ci_packages_test.sh SOURCE_DIR
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # description, expected, actual
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

mkdir "$work/bin"
stand_in() { # name, body
    printf '#!/usr/bin/env bash\n%s\n' "$2" >"$work/bin/$1"
    chmod +x "$work/bin/$1"
}
# A user other than root, so every step goes through sudo.
stand_in id 'echo 1000'
stand_in sudo 'echo "sudo $*" >>"$CALLS"; exec "$@"'
stand_in apt-get 'echo "apt-get $*" >>"$CALLS"
case " $* " in
*" update "*) echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size" >&2; exit 100 ;;
*:i386*|*" $REFUSE "*) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
esac'
stand_in dpkg 'echo "dpkg $*" >>"$CALLS"
case $1 in --print-foreign-architectures) ;; -s) exit 1 ;; esac'
stand_in localedef 'echo "localedef $*" >>"$CALLS"'
stand_in locale ':'

run() { # refused package; runs the cross-tools step as .ci/windows-arm does
    : >"$work/calls"
    (
        export PATH="$work/bin:$PATH" CALLS="$work/calls" REFUSE=$1
        set -euo pipefail
        source "$source_dir/.ci/packages.sh"
        ci_install_cross_tools
        ci_wine32_for "32-bit Windows tests" || echo "skipped"
    ) >"$work/out" 2>&1
}

run none
check "broken mirror: status" 0 $?
grep -q '^WARNING: apt-get update failed (status 100), .*unexpected size$' "$work/out" ||
    check "broken mirror: update warning" "one WARNING line" "$(cat "$work/out")"
check "broken mirror: skip line" \
    "SKIPPED: 32-bit Windows tests (wine32 could not be installed)" "$(grep '^SKIPPED' "$work/out")"
check "broken mirror: the caller goes on" skipped "$(tail -1 "$work/out")"
grep -q '^sudo dpkg --add-architecture i386$' "$work/calls" ||
    check "i386 added through sudo" "sudo dpkg --add-architecture i386" "$(cat "$work/calls")"
check "locales generated" 2 "$(grep -c '^localedef ' "$work/calls")"

run qemu-user
check "another package refused: status" 100 $?
grep -q '^localedef' "$work/calls" && check "another package refused: stops there" stopped "went on"

[ "$failures" -eq 0 ] && echo "install steps on a broken mirror: as expected"
exit $((failures > 0))
