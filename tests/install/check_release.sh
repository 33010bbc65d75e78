#!/usr/bin/env bash
# The release files as a user gets them: installs the amd64 Debian packages on
# this machine (as root), builds and runs a program against them, reads the
# man page, removes them and checks nothing is left; checks where the armhf
# packages put their files and runs their library under qemu-arm; unpacks the
# tarballs and the Windows zips into empty folders and runs what is inside.
# Every picture is compared with the installed amd64 host's, or for Windows
# with the Linux reference for the Windows C runtime's draws.
#
# Usage: check_release.sh DIST SOURCE_DIR CROSS_BUILD_ROOT
#   CROSS_BUILD_ROOT: where .ci/windows-arm built, for the native
#   pelindra_msvcrt_reference and the Windows builds' stand-in framework.
set -euo pipefail
dist=$(realpath "$1")
source_dir=$(realpath "$2")
cross_root=$(realpath "$3")
msvcrt_reference=$cross_root/native/tests/msvcrt_draws/pelindra_msvcrt_reference
example=$source_dir/examples/night-sky.bmp
version=$(sed -n 's/^project(MorvanePelindra VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
seed=2026
work=$(mktemp -d)
installed=()
cleanup() {
    # Leave the machine as it was, even when a check failed.
    [ ${#installed[@]} -eq 0 ] || dpkg -r "${installed[@]}" >/dev/null 2>&1 || true
    WINEPREFIX=$work/wine wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=.ci/packages.sh
source "$source_dir/.ci/packages.sh"

step() { printf '\n--- %s\n' "$*"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

step "Every release file is there and matches its sum"
expected=(
    "libmorvanepelindra1_${version}-1_amd64.deb" "libmorvanepelindra-dev_${version}-1_amd64.deb"
    "pelindra_${version}-1_amd64.deb" "morvanepelindra-${version}-linux-x86_64.tar.gz"
    "libmorvanepelindra1_${version}-1_armhf.deb" "libmorvanepelindra-dev_${version}-1_armhf.deb"
    "pelindra_${version}-1_armhf.deb" "morvanepelindra-${version}-linux-armhf.tar.gz"
    "morvanepelindra-${version}-windows-x64.zip" "morvanepelindra-${version}-windows-x86.zip")
for name in "${expected[@]}"; do
    test -f "$dist/$name" || fail "$name missing from $dist"
done
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
test "$(wc -l <"$dist/SHA256SUMS")" -eq "$(find "$dist" -maxdepth 1 -type f ! -name SHA256SUMS | wc -l)" ||
    fail "SHA256SUMS does not list every file"
lintian --fail-on error "$dist"/*.deb

step "amd64 packages: install"
packages=(pelindra libmorvanepelindra-dev "libmorvanepelindra1")
debs=("$dist"/*_amd64.deb)
installed=("${packages[@]}")
dpkg -i "${debs[@]}"
test "$(/usr/bin/pelindra --version)" = "pelindra $version" || fail "pelindra --version"
/usr/bin/pelindra --seed "$seed" "$example" "$work/reference.bmp" 50 >/dev/null

step "amd64 packages: a program built with find_package and with pkg-config"
# Installed in /usr, the library needs no flags but its name.
flags=$(pkg-config --cflags --libs morvanepelindra | xargs)
test "$flags" = "-lmorvanepelindra" || fail "pkg-config gives: $flags"
packaged_library=$(dpkg -L libmorvanepelindra1 | grep '/libmorvanepelindra\.so\.1$')
cmake -S "$source_dir/tests/install/consumer" -B "$work/cmake-consumer" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
# shellcheck disable=SC2046
cc -std=c11 -o "$work/pc-consumer" "$source_dir/tests/install/consumer/consumer.c" \
    $(pkg-config --cflags --libs morvanepelindra)
for consumer in "$work/cmake-consumer/consumer" "$work/pc-consumer"; do
    used=$(ldd "$consumer" | awk '$1 == "libmorvanepelindra.so.1" { print $3 }')
    test "$(realpath "$used")" = "$(realpath "$packaged_library")" ||
        fail "$consumer uses $used, not the packaged library"
    "$consumer" >/dev/null || fail "$consumer: missing input not refused"
    "$consumer" "$example" "$work/consumer.bmp" "$seed" >/dev/null || fail "$consumer on the example"
    cmp "$work/reference.bmp" "$work/consumer.bmp" || fail "$consumer drew other pixels than pelindra"
done

step "amd64 packages: the man page"
[[ $(MANWIDTH=80 man -l /usr/share/man/man1/pelindra.1.gz) == *"pelindra - draw stars"* ]] ||
    fail "man -l"
[[ $(MANWIDTH=80 man pelindra 2>/dev/null) == *"--seed N"* ]] || fail "man pelindra"

step "amd64 packages: remove"
mapfile -t files < <(for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar t; done)
dpkg -r "${packages[@]}"
installed=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f '${db:Status-Status}' "$package" 2>/dev/null || true)
    test -z "$status" || test "$status" = not-installed || fail "$package still $status"
done
for path in "${files[@]}"; do
    path=${path#.}
    # Shared directories (/usr/bin, /usr/lib/...) stay; ours must go.
    if [ -L "$path" ] || [ -f "$path" ] || { [ -d "$path" ] && [[ $path == *elindra* ]]; }; then
        fail "$path left behind"
    fi
done

step "armhf packages: where the files go"
contents() { dpkg-deb --contents "$dist/$1_${version}-1_armhf.deb" | awk '{print $6}' | sort; }
triplet=arm-linux-gnueabihf
contents libmorvanepelindra1 | grep -qx "./usr/lib/$triplet/libmorvanepelindra.so.1.0.0.1" ||
    fail "armhf library"
contents libmorvanepelindra-dev | grep -qx "./usr/lib/$triplet/pkgconfig/morvanepelindra.pc" ||
    fail "armhf pkg-config file"
contents libmorvanepelindra-dev | grep -qx "./usr/include/morvane_pelindra.h" || fail "armhf header"
contents pelindra | grep -qx "./usr/bin/pelindra" || fail "armhf host"
contents pelindra | grep -qx "./usr/share/man/man1/pelindra.1.gz" || fail "armhf man page"
for package in libmorvanepelindra1 libmorvanepelindra-dev pelindra; do
    dpkg-deb -f "$dist/${package}_${version}-1_armhf.deb" Architecture | grep -qx armhf ||
        fail "$package architecture"
done

step "armhf packages: the library runs the example under qemu-arm"
for package in libmorvanepelindra1 pelindra; do
    dpkg-deb -x "$dist/${package}_${version}-1_armhf.deb" "$work/armhf"
done
qemu-arm -L "/usr/$triplet" -E "LD_LIBRARY_PATH=$work/armhf/usr/lib/$triplet" \
    "$work/armhf/usr/bin/pelindra" --seed "$seed" "$example" "$work/armhf.bmp" 50 >/dev/null
cmp "$work/reference.bmp" "$work/armhf.bmp" || fail "armhf drew other pixels than amd64"

step "Tarballs: unpacked anywhere, the host finds its library"
for arch in x86_64 armhf; do
    mkdir "$work/tar-$arch"
    tar -xzf "$dist/morvanepelindra-${version}-linux-$arch.tar.gz" -C "$work/tar-$arch"
    root="$work/tar-$arch/morvanepelindra-${version}-linux-$arch"
    run=()
    [ "$arch" = armhf ] && run=(qemu-arm -L "/usr/$triplet")
    "${run[@]}" "$root/bin/pelindra" --seed "$seed" "$example" "$work/tar-$arch.bmp" 50 >/dev/null
    cmp "$work/reference.bmp" "$work/tar-$arch.bmp" || fail "$arch tarball drew other pixels"
    test -f "$root/share/man/man1/pelindra.1.gz" || fail "$arch tarball man page"
    test -f "$root/include/morvane_pelindra.h" || fail "$arch tarball header"
done

step "Windows zips: only what a user needs, and it runs"
export WINEPREFIX=$work/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 300 wineboot --init
wineserver -w
zip_layout="README.md
desktop/MorvanePelindra.def
desktop/MorvanePelindra.dll
desktop/libMorvanePelindra.dll.a
desktop/pelindra.exe
framework/MorvanePelindra.def
framework/MorvanePelindra.dll
framework/libMorvanePelindra.dll.a
framework/pelindra.exe
include/morvane_pelindra.h
pelindra.1.txt"
"$msvcrt_reference" "$seed" "$example" "$work/msvcrt.bmp" 50 >/dev/null
for pair in x64:windows-x86_64 x86:windows-i686; do
    arch=${pair%%:*}
    folder="$work/zip-$arch"
    mkdir "$folder"
    unzip -q "$dist/morvanepelindra-${version}-windows-$arch.zip" -d "$folder"
    root="$folder/morvanepelindra-${version}-windows-$arch"
    found=$(cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort)
    test "$found" = "$zip_layout" || fail "$arch zip holds: $found"
    [ "$arch" = x64 ] || ci_wine32_for "the x86 zip's programs under Wine" || continue
    cp "$example" "$root/in.bmp"
    # The desktop flavour, with no framework anywhere to be found.
    (cd "$root" && wine desktop/pelindra.exe --seed "$seed" in.bmp desktop.bmp 50 >/dev/null)
    cmp "$work/msvcrt.bmp" "$root/desktop.bmp" || fail "$arch desktop flavour drew other pixels"
    # The framework flavour loads once the stand-in framework is beside it.
    cp "$cross_root/${pair#*:}/mfcce300.dll" "$root/framework/"
    (cd "$root" && wine framework/pelindra.exe --seed "$seed" in.bmp framework.bmp 50 >/dev/null)
    cmp "$work/msvcrt.bmp" "$root/framework.bmp" || fail "$arch framework flavour drew other pixels"
done

echo
echo "release files checked"
