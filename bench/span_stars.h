// Stars drawn span by span, in draw order: the baseline the library's banded
// drawing is measured against. Each star shape is worked out once, by drawing
// it with the reference renderers into a scratch canvas, and kept as the runs
// of pixels of each row; a star is then a few short fills, with no clipping
// for stars clear of the borders. The placement takes the draws 256 stars at
// a time and asks for the rows of the star six ahead while one is drawn.
#pragma once

#include "memory_image.h"
#include "render/pixel_canvas.h"
#include "render/star_unrolled.h"

#include <cstdint>

inline constexpr int32_t kStarSizeCount = kStarLargestSize - kStarSmallestSize + 1;
inline constexpr int32_t kStarMaxSpans = 48; // size 9 has 27

struct StarShape {
    int32_t spanCount;
    int32_t reach; // the largest row or column offset of any pixel
    StarSpan spans[kStarMaxSpans];
};

struct StarShapes {
    StarShape bySize[kStarSizeCount]; // index size - kStarSmallestSize
};

void BuildStarShapes(StarShapes* shapes);

// Draws `shape` at the canvas centre in the canvas colour, clipped to the
// image. canvas->size is not read.
void DrawStarShape(const PixelCanvas* canvas, const StarShape* shape);

// The library's placement with every star drawn span by span into the rows,
// which must all be in memory: the same draws, the same bytes.
void PlaceStarsSpanBySpan(const MemoryImage* image, int32_t starCount);
