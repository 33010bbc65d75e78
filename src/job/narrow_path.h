// The job's two paths, converted from UTF-16 to the narrow encoding the file services take.
#pragma once

#include <cstdint>

// A narrow path holds at most 255 bytes and its terminating NUL.
inline constexpr int32_t kNarrowPathCapacity = 256;

enum NarrowPathStatus : int32_t {
    kNarrowPathOk = 0,
    kNarrowPathMissing,          // a null pointer
    kNarrowPathTooLong,          // more than 255 bytes once converted
    kNarrowPathNotRepresentable, // the narrow encoding cannot hold it exactly
};

// Converts `wide` into `narrow`. On any failure `narrow` is the empty string. A conversion the
// runtime cannot perform leaves it empty too, not a failure here: the open reports it.
NarrowPathStatus ConvertNarrowPath(const char16_t* wide, char (&narrow)[kNarrowPathCapacity]);
