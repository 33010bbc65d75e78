// UTF-16 to UTF-8, the narrow encoding off the home platform.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest UTF-8 form of one UTF-16 code unit: a BMP character takes up to 3
// bytes, and a surrogate pair (two units) takes 4.
inline constexpr int32_t kMaxNarrowBytesPerWideUnit = 3;

// Converts `wide` up to and including its terminator into `narrow`, writing at
// most `capacity` bytes. An unpaired surrogate becomes kDefaultNarrowChar.
// Returns the bytes written including the NUL, or 0 when they do not fit (the
// contents of `narrow` are then unspecified).
int32_t ConvertUtf16ToUtf8(const char16_t* wide, char* narrow, int32_t capacity);

inline constexpr char kDefaultNarrowChar = '?';
