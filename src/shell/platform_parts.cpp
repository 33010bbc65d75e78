#include "shell/platform_parts.h"

#if defined(_WIN32)
#include <windows.h>
#endif

size_t DirectoryPartLength(const char* path) {
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
