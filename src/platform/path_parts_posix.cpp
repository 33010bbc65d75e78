#include "platform/path_parts.h"

size_t DirectoryPartLength(const char* path) {
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '/') {
            length = i + 1;
        }
    }
    return length;
}
