// What a job decides once it knows its image's rows and how many stars go on it: how the stars
// reach the file, and the memory the bands take. The maker acts on it and chooses nothing.
#pragma once

#include "bmp/bmp_image.h"
#include "render/star_bands.h"

#include <cstdint>

enum StarDrawing : int32_t {
    // The rows are copied as they are (inside the kernel where it can), and each star's runs are
    // then written over them at their offsets: nothing is read back. For few stars, and for rows
    // too wide to hold a band of.
    kStarsAsRuns,
    // Each star is added to the bands its box overlaps; each band is then read, drawn and written
    // in turn, in one reused buffer. For many stars; as runs where the bands' memory cannot be had.
    kStarsInBands,
};

struct JobPlan {
    StarDrawing drawing;
    StarBandsLayout bands; // in bands: the bands' pool, for up to poolStars stars
    int32_t poolStars;
    int64_t bandRowsBytes; // in bands: the buffer one band's rows are read into
};

// The job's plan: in bands where the stars are many for the rows and the bands' memory stays within
// the rows' size, otherwise as runs.
JobPlan PlanJob(const BmpImage* image, int32_t starCount);

// The plan for drawing as asked (bands sized for the stars); as runs where they cannot be laid out.
JobPlan PlanDrawing(const BmpImage* image, int32_t starCount, StarDrawing drawing);
