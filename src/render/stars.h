// The two star shapes, drawn in the canvas colour through PlotPixel: what falls outside is dropped.
#pragma once

#include "render/pixel_canvas.h"

// Sizes up to 4: an upright plus with arms `size` long, under a diagonal cross with arms size / 2.
void DrawSmallStar(const PixelCanvas* canvas);

// Sizes 5 and up: five rays of length size and five of size / 2, aimed by ApproximateDirection,
// over a plus with arms `size` long and a filled diamond of radius size / 2 + 2.
void DrawLargeStar(const PixelCanvas* canvas);

inline constexpr int32_t kLargestSmallStar = 4;

// The star of canvas->size, whichever shape that size has.
inline void DrawReferenceStar(const PixelCanvas* canvas) {
    if (canvas->size > kLargestSmallStar) {
        DrawLargeStar(canvas);
    } else {
        DrawSmallStar(canvas);
    }
}
