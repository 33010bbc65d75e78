#include "shell/utf16_to_utf8.h"

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

        unsigned char bytes[4];
        int32_t count = 0;
        if (code < 0x80) {
            bytes[count++] = static_cast<unsigned char>(code);
        } else if (code < 0x800) {
            bytes[count++] = static_cast<unsigned char>(0xC0 | (code >> 6));
            bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes[count++] = static_cast<unsigned char>(0xE0 | (code >> 12));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        } else {
            bytes[count++] = static_cast<unsigned char>(0xF0 | (code >> 18));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<unsigned char>(0x80 | (code & 0x3F));
        }
        if (count > capacity - written) {
            return 0;
        }
        for (int32_t b = 0; b < count; ++b) {
            narrow[written++] = static_cast<char>(bytes[b]);
        }
        if (code == 0) {
            return written;
        }
    }
}
