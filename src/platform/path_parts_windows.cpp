#include "platform/path_parts.h"

#include <windows.h>

size_t DirectoryPartLength(const char* path) {
    size_t length = 0;
    size_t i = 0;
    while (path[i] != '\0') {
        const bool separator = path[i] == '/' || path[i] == '\\' || path[i] == ':';
        const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i])) != 0;
        if (separator) {
            length = i + 1;
        }
        i += lead && path[i + 1] != '\0' ? 2 : 1;
    }
    return length;
}
