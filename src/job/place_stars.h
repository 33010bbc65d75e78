#pragma once

#include "bmp/bmp_image.h"

#include <cstdint>

// Draws starCount stars into the image's pixels. Each star takes four values
// from the runtime's generator, in the order column, row, size, colour; a later
// star wins where stars overlap. Where the rows are read on demand, the pages
// a star lands on are read before it is drawn; kBmpCannotReadPixels (nothing
// printed) when the input no longer holds them.
BmpStatus PlaceStars(const BmpImage* image, int32_t starCount);

// Stars are drawn in batches of at most this many.
inline constexpr int32_t kPlaceBatchStars = 256;
// How many stars the next batch holds once `drawn` of `starCount` are drawn:
// never more than are left, so counting up to any starCount cannot overflow.
int32_t NextBatchSize(int32_t drawn, int32_t starCount);
