// Stars made into pixel rows the way the job makes them: the rows written out
// as an input file, loaded, and the image made into a new file with the
// drawing asked for, whose rows are read back in their place.
#pragma once

#include "job/job_plan.h"

#include <cstdint>

// `rows` holds height rows of width pixels and their filler. Returns what
// MakeImage returned (kBmpCannotOpenInput and the like where the input could
// not be loaded); the rows are replaced only on success.
BmpStatus MakeStarRows(uint8_t* rows, int32_t width, int32_t height, int32_t stars,
                       StarDrawing drawing);
