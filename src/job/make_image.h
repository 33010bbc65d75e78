// Making the image in the save's file: the input's headers, gap and rows, with stars drawn over.
#pragma once

#include "bmp/bmp_save.h"
#include "job/job_plan.h"

#include <cstdint>

// Writes the whole image into `output` at the input's offsets (the headers and rows only where the
// file does not hold them already) and draws starCount stars as the plan says. Each star takes four
// values from the runtime's generator, in the order column, row, size, colour; a later star wins
// where stars overlap. kBmpCannotReadPixels when the input no longer holds its rows,
// kBmpCannotWriteOutput when the output cannot be written or read back, kBmpCannotAllocatePixels
// when no copy buffer can be had; nothing is printed.
BmpStatus MakeImage(const BmpOutput* output, const BmpImage* image, int32_t starCount,
                    const JobPlan* plan);
