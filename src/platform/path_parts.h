// A helper of the platform files and the save, not a call of its own: a path's directory part.
#pragma once

#include <cstddef>

// Length of the directory part of `path`, separator included. Windows also takes backslashes and a
// drive prefix ("C:name"), and steps over whole characters of a double-byte code page like 932,
// whose second byte can be a backslash; elsewhere a backslash is part of a name.
size_t DirectoryPartLength(const char* path);
