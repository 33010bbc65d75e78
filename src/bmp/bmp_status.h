// Every way loading or saving can end. bmp/ prints nothing: the job says each failure in its one
// line (job_report.cpp).
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
