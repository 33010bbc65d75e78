#pragma once

#include "bmp/bmp_image.h"

#include <cstdint>

// How the stars reach the pixels: each as soon as it is made, or added to
// bands of rows that are then drawn one after the other (for dense jobs on
// rows held whole). Both give the same bytes.
enum StarDrawing {
    kStarsOneByOne,
    kStarsInBands,
};

// Draws starCount stars into the image's pixels. Each star takes four values
// from the runtime's generator, in the order column, row, size, colour; a later
// star wins where stars overlap. Where the rows are read on demand, the pages a
// star lands on are read before it is drawn; kBmpCannotReadPixels (nothing
// printed) when the input no longer holds them. Bands need every row in
// memory: where the rows are read on demand, or the memory for the bands
// cannot be had, the stars are drawn one by one.
BmpStatus PlaceStars(const BmpImage* image, int32_t starCount, StarDrawing drawing);
