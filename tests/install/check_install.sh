#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a C program
# against it twice: through the CMake package and through pkg-config.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(find "$work/prefix" -name 'libmorvanepelindra.so.1' -printf '%h\n' | head -1)
test -x "$work/prefix/bin/pelindra"
test -f "$work/prefix/include/morvane_pelindra.h"
"$work/prefix/bin/pelindra" --version | grep -qx 'pelindra 1.0.0.1'

cmake -S "$source/tests/install/consumer" -B "$work/cmake-consumer" \
    -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-consumer/consumer" | grep -q 'result 1'

if command -v pkg-config >/dev/null; then
    export PKG_CONFIG_PATH="$libdir/pkgconfig"
    test "$(pkg-config --modversion morvanepelindra)" = 1.0.0.1
    # shellcheck disable=SC2046
    cc -std=c11 -o "$work/pc-consumer" "$source/tests/install/consumer/consumer.c" \
        $(pkg-config --cflags --libs morvanepelindra)
    LD_LIBRARY_PATH="$libdir" "$work/pc-consumer" | grep -q 'result 1'
else
    echo "pkg-config not installed: checked the CMake package only"
fi
echo "installed library found through its package files"
