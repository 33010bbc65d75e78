# Package installation for the CI scripts; sourced, not run.
#
# A package mirror is now and then out of step with itself: an index of the
# wrong size makes `apt-get update` exit 100, and the i386 packages only that
# index lists cannot be installed. Neither may stop CI. A failed update is a
# warning and the package lists already on the machine are used; 32-bit Wine
# is installed in a step of its own and is the one thing that may be left
# out, with the checks that need it (ci_have_wine32 tells them). Any other
# package that cannot be installed still fails the run.

ci_wine32_missing="wine32 could not be installed"

ci_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

ci_update_package_lists() {
    local log status=0
    log=$(ci_as_root apt-get update -qq 2>&1) || status=$?
    if [ "$status" -ne 0 ]; then
        printf 'WARNING: apt-get update failed (status %s), going on with the package lists there are: %s\n' \
            "$status" "$(printf '%s\n' "$log" | grep -m 1 '^E:' || true)"
    fi
}

# Installs every package named, or fails.
ci_install_packages() {
    ci_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

ci_have_wine32() {
    dpkg -s wine32:i386 2>/dev/null | grep -qx 'Status: install ok installed'
}

# Says "SKIPPED: <what> (wine32 could not be installed)" and fails where
# 32-bit Wine is missing, so a caller can write: ci_wine32_for "..." && run.
ci_wine32_for() {
    ci_have_wine32 && return 0
    echo "SKIPPED: $1 ($ci_wine32_missing)"
    return 1
}

# Wine takes its ANSI code page from the locale: the file-name tests run in
# 1252 (en_US) and 932 (ja_JP), and the locales have to exist for that.
ci_generate_locales() {
    local name
    for name in en_US ja_JP; do
        if ! locale -a 2>/dev/null | grep -qix "$name.utf-\?8"; then
            ci_as_root localedef -i "$name" -f UTF-8 "$name.UTF-8"
        fi
    done
}

# What the cross builds need: mingw-w64 for both Windows targets, Wine to run
# them, the ARM cross compiler with qemu-arm, and the locales.
ci_install_cross_tools() {
    # 32-bit Windows programs need Wine's i386 half next to the 64-bit one.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        ci_as_root dpkg --add-architecture i386
    fi
    ci_update_package_lists
    ci_install_packages cmake ninja-build g++ googletest \
        g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix \
        binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools \
        wine wine64 qemu-user crossbuild-essential-armhf locales || return
    # Apt installs a command's packages all or nothing, so 32-bit Wine goes
    # alone: its i386 dependencies are the first to go missing.
    ci_install_packages wine32:i386 2>/dev/null || echo "WARNING: $ci_wine32_missing; the 32-bit Windows programs are built but not run"
    ci_generate_locales
}
