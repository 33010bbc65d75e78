// A small helper of the platform files and of the save that is not a call of its own: the directory
// part of a path.
#pragma once

#include <cstddef>

// Length of the directory part of `path`, separator included. Windows also takes backslashes and a
// drive prefix ("C:name"), and steps over whole characters of a double-byte code page like 932,
// whose second byte can be a backslash; elsewhere a backslash is an ordinary character of a file
// name.
size_t DirectoryPartLength(const char* path);
