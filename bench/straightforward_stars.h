// The star renderers written the plain way, kept here as the baseline the
// library's span renderer is measured against: the large star asks for its
// direction at every point of every ray and scans the whole square around its
// centre for the plus and the diamond, and the placement draws each star as
// soon as its four values are taken.
#pragma once

#include "memory_image.h"
#include "render/pixel_canvas.h"

void StraightforwardSmallStar(const PixelCanvas* canvas);
void StraightforwardLargeStar(const PixelCanvas* canvas);
void StraightforwardPlaceStars(const MemoryImage* image, int32_t starCount);
