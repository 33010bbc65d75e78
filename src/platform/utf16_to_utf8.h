// UTF-16 to UTF-8, the narrow encoding off the home platform.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest UTF-8 form of one UTF-16 unit: a BMP character takes up to 3 bytes, a surrogate pair 4.
inline constexpr int32_t kMaxNarrowBytesPerWideUnit = 3;

// Returned for a text UTF-8 cannot hold: one with an unpaired surrogate.
inline constexpr int32_t kNotRepresentable = -1;

// shell.WideToNarrow where the narrow encoding is UTF-8, on its own for the tests.
int32_t ConvertUtf16ToUtf8(const char16_t* wide, char* narrow, int32_t capacity);
