#include "platform/utf16_to_utf8.h"

namespace {

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

int32_t ConvertUtf16ToUtf8(const char16_t* wide, char* narrow, int32_t capacity) {
    int32_t written = 0;
    for (size_t i = 0;; ++i) {
        char32_t code = wide[i];
        if (IsHighSurrogate(wide[i]) && IsLowSurrogate(wide[i + 1])) {
            code =
                0x10000 + ((char32_t(wide[i]) - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(wide[i]) || IsLowSurrogate(wide[i])) {
            return kNotRepresentable;
        }

        // A lead byte that says how many bytes follow, then six bits a byte.
        const int32_t count = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
        if (count > capacity - written) {
            return 0;
        }
        constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
        narrow[written++] = static_cast<char>(kLead[count] | (code >> (6 * (count - 1))));
        for (int32_t b = count - 2; b >= 0; --b) {
            narrow[written++] = static_cast<char>(0x80 | ((code >> (6 * b)) & 0x3F));
        }
        if (code == 0) {
            return written;
        }
    }
}
