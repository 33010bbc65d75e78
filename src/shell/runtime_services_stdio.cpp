// The runtime services that are the plain C runtime on every platform:
// printing, stream reads and writes, the heap and the generator.
#include "shell/runtime_services.h"
#include "shell/stdio_stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void ShellPrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void ShellFlushOutput() {
    std::fflush(stdout);
}

size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file) {
    return std::fread(destination, itemSize, itemCount, Stream(file));
}

size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file) {
    return std::fwrite(source, itemSize, itemCount, Stream(file));
}

int32_t ShellFileClose(ShellFile* file) {
    // A write that failed earlier (a flush before a kernel copy, say) may have
    // lost buffered bytes even if the final flush succeeds.
    const bool failedBefore = std::ferror(Stream(file)) != 0;
    const bool closed = std::fclose(Stream(file)) == 0;
    return closed && !failedBefore ? 0 : -1;
}

void* ShellAllocate(size_t bytes) {
    return std::malloc(bytes);
}

void ShellRelease(void* block) {
    std::free(block);
}

int32_t ShellRandom() {
    return std::rand();
}

size_t ShellWideLength(const char16_t* text) {
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}
