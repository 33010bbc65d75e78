// What a job decides once it knows how many bytes of rows its image has and
// how many stars go on it: how the rows are held and how the stars reach
// them. The loader, the placer and the writer each act on their part of it;
// none of them chooses again.
#pragma once

#include "bmp/bmp_image.h"
#include "job/place_stars.h"

#include <cstdint>

struct JobPlan {
    BmpRows rows;        // kBmpRowsWhole or kBmpRowsOnDemand
    StarDrawing drawing; // in bands only where the rows are read whole
};

JobPlan PlanJob(int32_t pixelBytes, int32_t starCount);
