// The job's streams are C runtime FILE streams on every platform.
#pragma once

#include "shell/runtime_services.h"

#include <cstdio>

inline FILE* Stream(ShellFile* file) {
    return reinterpret_cast<FILE*>(file);
}

inline ShellFile* Wrap(FILE* stream) {
    return reinterpret_cast<ShellFile*>(stream);
}
