#include "job/narrow_path.h"

#include "platform/platform_calls.h"
#include "platform/utf16_to_utf8.h"

#include <cstring>
#include <string>

namespace {

// Every code unit becomes at least one byte, so a wide path longer than this can never fit and is
// refused before converting anything. The conversion buffer is bounded however long the string.
constexpr size_t kLongestConvertibleUnits = kNarrowPathCapacity - 1;
constexpr int32_t kConversionCapacity = kMaxNarrowBytesPerWideUnit * kNarrowPathCapacity;

} // namespace

NarrowPathStatus ConvertNarrowPath(const char16_t* wide, char (&narrow)[kNarrowPathCapacity]) {
    narrow[0] = '\0';
    if (wide == nullptr) {
        return kNarrowPathMissing;
    }
    const size_t units = std::char_traits<char16_t>::length(wide);
    if (units > kLongestConvertibleUnits) {
        return kNarrowPathTooLong;
    }
    char converted[kConversionCapacity];
    converted[0] = '\0';
    const int32_t capacity = kMaxNarrowBytesPerWideUnit * (static_cast<int32_t>(units) + 1);
    const int32_t written = shell.WideToNarrow(wide, converted, capacity);
    if (written < 0) {
        // A near miss would name another file, so nothing is done with it.
        return kNarrowPathNotRepresentable;
    }
    if (written == 0 || written > capacity || converted[written - 1] != '\0') {
        // The conversion failed as a whole: the path stays empty, for its open or create to report.
        return kNarrowPathOk;
    }
    const size_t length = static_cast<size_t>(written) - 1;
    if (length >= static_cast<size_t>(kNarrowPathCapacity)) {
        return kNarrowPathTooLong;
    }
    std::memcpy(narrow, converted, length + 1);
    return kNarrowPathOk;
}
