// How loading or saving can end. bmp/ prints nothing: job_report.cpp gives each failure its line.
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
