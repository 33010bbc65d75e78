// The host's command line as UTF-8, whatever the platform delivers.
#pragma once

// On Windows, main() receives its arguments in the ANSI code page, which
// cannot hold every file name (and best-fits some characters into others).
// This returns the process's wide command line, split by CommandLineToArgvW
// (the system's rules for quotes and backslashes) and converted to UTF-8, so
// that every name reaches the library unchanged; *argc is updated to match. A
// wide argument that is not valid UTF-16 (an unpaired surrogate) keeps its
// surrogate in the generalised UTF-8 form, which the argument parser turns
// back into that surrogate, so the library sees the name as it was given.
// Elsewhere it returns argv as it is.
char** HostUtf8Arguments(int* argc, char** argv);
