// The temporary name of a new file beside a target, shared by the platforms:
// the target's directory plus a short name, so that the result fits even when
// the target's own name is as long as names go.
#pragma once

#include "shell/runtime_services.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

inline constexpr int32_t kBesideNameLength = 18; // ".pelindra-" and eight hex digits
// New names tried before giving up on names other writers took.
inline constexpr int32_t kBesideNameAttempts = 16;

// Length of the directory part of `path`, separator included. Windows also
// takes backslashes and a drive prefix ("C:name"), and steps over whole
// characters of a double-byte code page like 932, whose second byte can be a
// backslash; elsewhere a backslash is an ordinary character of a file name.
inline size_t DirectoryPartLength(const char* path) {
    size_t length = 0;
    size_t i = 0;
    while (path[i] != '\0') {
#if defined(_WIN32)
        const bool separator = path[i] == '/' || path[i] == '\\' || path[i] == ':';
        const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i])) != 0;
        const size_t step = lead && path[i + 1] != '\0' ? 2 : 1;
#else
        const bool separator = path[i] == '/';
        const size_t step = 1;
#endif
        if (separator) {
            length = i + 1;
        }
        i += step;
    }
    return length;
}

// Puts the directory part of `target` and a temporary name made from `token`
// into `path`. False, with `path` empty, where the result would not fit.
inline bool PickNameBeside(const char* target, uint32_t token,
                           char (&path)[kShellNewFilePathCapacity]) {
    const size_t directory = DirectoryPartLength(target);
    path[0] = '\0';
    if (directory + kBesideNameLength + 1 > sizeof path) {
        return false;
    }
    std::memcpy(path, target, directory);
    std::snprintf(path + directory, kBesideNameLength + 1, ".pelindra-%08x", token);
    return true;
}
