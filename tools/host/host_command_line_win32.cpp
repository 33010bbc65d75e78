#include "host/host_command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>

namespace {

// UTF-16 to UTF-8, passing unpaired surrogates through in the generalised
// three-byte form rather than replacing them, so the library is handed the
// name as it was given, not a different one. Null when out of memory.
char* ToUtf8(const wchar_t* wide) {
    size_t units = 0;
    while (wide[units] != L'\0') {
        ++units;
    }
    char* text = static_cast<char*>(std::malloc(3 * units + 1));
    if (text == nullptr) {
        return nullptr;
    }
    size_t out = 0;
    for (size_t i = 0; i < units; ++i) {
        unsigned long code = static_cast<unsigned short>(wide[i]);
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        if (high && i + 1 < units && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) +
                   (static_cast<unsigned short>(wide[i + 1]) - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            text[out++] = static_cast<char>(code);
        } else if (code < 0x800) {
            text[out++] = static_cast<char>(0xC0 | (code >> 6));
            text[out++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text[out++] = static_cast<char>(0xE0 | (code >> 12));
            text[out++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text[out++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text[out++] = static_cast<char>(0xF0 | (code >> 18));
            text[out++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text[out++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text[out++] = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    text[out] = '\0';
    return text;
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
