#include "host/host_utf.h"

bool ConvertUtf8ToUtf16(const std::string& text, std::u16string* wide) {
    wide->clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    bool afterHighSurrogate = false;
    while (i < text.size()) {
        unsigned char lead = bytes[i];
        char32_t code = 0;
        size_t extra = 0;
        char32_t lowest = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1F;
            extra = 1;
            lowest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0F;
            extra = 2;
            lowest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            code = lead & 0x07;
            extra = 3;
            lowest = 0x10000;
        } else {
            return false;
        }
        if (extra > text.size() - 1 - i) {
            return false; // sequence cut off by the end of the text
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF) {
            return false;
        }
        // A surrogate in the three-byte form stands for itself, so an unpaired
        // one (a Windows name may hold one) reaches the
        // library, which refuses it with its own line. Two that make a pair
        // are another spelling of a four-byte character, and are refused.
        if (afterHighSurrogate && code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        afterHighSurrogate = code >= 0xD800 && code <= 0xDBFF;
        if (code >= 0x10000) {
            code -= 0x10000;
            wide->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            wide->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            wide->push_back(static_cast<char16_t>(code));
        }
        i += extra + 1;
    }
    return true;
}

std::string ConvertUtf16ToUtf8(const std::u16string& wide) {
    std::string text;
    text.reserve(3 * wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t code = wide[i];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        if (high && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            text.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            text.push_back(static_cast<char>(0xC0 | (code >> 6)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | (code >> 12)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | (code >> 18)));
            text.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return text;
}
