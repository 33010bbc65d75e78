// What both tables do alike through the C runtime: printing, heap blocks, rand(), descriptors.
#pragma once

#include "platform/platform_calls.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A file is its descriptor, shifted by one so that no file is null.
inline int Descriptor(ShellFile* file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

inline ShellFile* FileOf(int descriptor) {
    return reinterpret_cast<ShellFile*>(static_cast<intptr_t>(descriptor) + 1);
}

inline void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

inline void* Allocate(size_t bytes) {
    return std::malloc(bytes);
}

inline void Release(void* block) {
    std::free(block);
}

inline void DrawsOfRand(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = std::rand();
    }
}
