// Small helpers of the platform files and of the save that are not calls of
// their own: the whole pages of a byte range, and the directory part of a
// path.
#pragma once

#include <cstddef>
#include <cstdint>

// The whole pages inside a byte range, for the calls that give memory back:
// they act on whole pages, and a range that only touches a page would take all
// of it, bytes still wanted included.
struct WholePages {
    uintptr_t from;
    uintptr_t to; // from == to: the range holds no whole page
};

// `page` is the system's page size, a power of two.
inline WholePages WholePagesInside(const void* start, size_t bytes, uintptr_t page) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(start);
    if (first > UINTPTR_MAX - bytes || first > UINTPTR_MAX - (page - 1)) {
        return {0, 0};
    }
    const uintptr_t from = (first + page - 1) & ~(page - 1);
    const uintptr_t to = (first + bytes) & ~(page - 1);
    return from < to ? WholePages{from, to} : WholePages{0, 0};
}

// Length of the directory part of `path`, separator included. Windows also
// takes backslashes and a drive prefix ("C:name"), and steps over whole
// characters of a double-byte code page like 932, whose second byte can be a
// backslash; elsewhere a backslash is an ordinary character of a file name.
size_t DirectoryPartLength(const char* path);
