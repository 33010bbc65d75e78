#pragma once

#include "bmp/bmp_image.h"

#include <cstdint>

// Draws starCount stars into the image's pixels. Each star takes four values
// from the runtime's generator, in the order column, row, size, colour; a later
// star wins where stars overlap.
void PlaceStars(const BmpImage* image, int32_t starCount);
