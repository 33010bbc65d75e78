#include "host/host_command_line.h"
#include "host/host_utf.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <cstring>

namespace {

// A copy of `wide` in UTF-8, in memory that lives as long as the process, like
// argv itself; null when out of memory.
char* ToUtf8(const wchar_t* wide) {
    const std::string text = ConvertUtf16ToUtf8(reinterpret_cast<const char16_t*>(wide));
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

} // namespace

// The converted arguments live as long as the process, like argv itself.
char** HostUtf8Arguments(int* argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        return argv;
    }
    char** converted =
        static_cast<char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    bool complete = converted != nullptr;
    for (int i = 0; complete && i < count; ++i) {
        converted[i] = ToUtf8(wide[i]);
        complete = converted[i] != nullptr;
    }
    LocalFree(wide);
    if (!complete) {
        // Out of memory this early: the narrow arguments are all there is.
        if (converted != nullptr) {
            for (int i = 0; i < count; ++i) {
                std::free(converted[i]);
            }
            std::free(converted);
        }
        return argv;
    }
    *argc = count;
    return converted;
}
