// Every way loading or saving can end, and the one line each failure prints.
#pragma once

#include <cstdint>

enum BmpStatus : int32_t {
    kBmpOk = 0,
    kBmpCannotOpenInput,
    kBmpCannotReadFileHeader,
    kBmpNotBmp,
    kBmpCannotReadInfoHeader,
    kBmpUnsupportedBitCount,
    kBmpCompressed,
    kBmpBadWidth,
    kBmpNoRows,
    kBmpHeightOutOfRange,
    kBmpTooLarge,
    kBmpCannotAllocateGap,
    kBmpCannotReadGap,
    kBmpCannotAllocatePixels,
    kBmpCannotReadPixels,
    kBmpCannotCreateOutput,
    kBmpCannotWriteOutput,
};

// Prints the "Error: " line for a failure. `path` fills the lines that name a
// file, `value` the bit count or width of the lines that show one.
void PrintBmpError(BmpStatus status, const char* path, int32_t value);
