#pragma once

#include "bmp/bmp_image.h"

#include <cstdint>

// Stars filed per chunk between drawing the bands: bounds the memory of the
// filing whatever the star count.
inline constexpr int32_t kBandedChunkStars = 1 << 20;

// Draws starCount stars into the image's pixels band by band: the same draws
// in the same order as PlaceStars, and the same bytes. Meant for dense jobs,
// where nearly every page of the pixels gets stars. Should its working memory
// not be had, it draws the stars one by one instead, with the same result.
void PlaceStarsBanded(const BmpImage* image, int32_t starCount);

// The same with the chunk and band sizes chosen (bandRows a power of two
// up to 64), for the
// tests.
void PlaceStarsBandedWith(const BmpImage* image, int32_t starCount, int32_t chunkStars,
                          int32_t bandRows);

// Stars in the chunk that starts with starsLeft stars still to draw.
int32_t BandedChunkStars(int32_t starsLeft, int32_t chunkStars);
