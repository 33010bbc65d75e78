// Star shapes as runs of pixels per row, for drawing many stars quickly.
//
// A star's pixels depend on its size alone, so each size is worked out once,
// by drawing it with DrawSmallStar or DrawLargeStar into a scratch canvas, and
// kept as horizontal spans. Drawing a star is then a few short fills, with no
// direction arithmetic, no scan of the surrounding square and, for stars clear
// of the borders, no per-pixel clipping. The pixels set are exactly those the
// two renderers set.
#pragma once

#include "render/pixel_canvas.h"

#include <cstdint>

inline constexpr int32_t kStarSmallestSize = 2;
inline constexpr int32_t kStarLargestSize = 9;
inline constexpr int32_t kStarSizeCount = kStarLargestSize - kStarSmallestSize + 1;
// More than the largest star needs (size 9 has 27 spans).
inline constexpr int32_t kStarMaxSpans = 48;

// Columns first..last (inclusive) of row `row`, as offsets from the centre.
struct StarSpan {
    int8_t row;
    int8_t first;
    int8_t last;
};

struct StarShape {
    int32_t spanCount;
    int32_t reach; // the largest row or column offset of any pixel
    StarSpan spans[kStarMaxSpans];
};

struct StarShapes {
    StarShape bySize[kStarSizeCount]; // index size - kStarSmallestSize
};

// Works out the spans of every size from 2 to 9.
void BuildStarShapes(StarShapes* shapes);

// Draws `shape` at the canvas centre in the canvas colour. Points outside the
// image are dropped, as PlotPixel drops them. canvas->size is not read.
void DrawStarShape(const PixelCanvas* canvas, const StarShape* shape);

// A star's colour in file order, repeated, as values: stores of them do not
// read the colour from memory, where the bytes just written to make it could
// only be read once every store before them, the last star's included, is
// done. Byte i of phase p is blue, green or red as (p + i) % 3 is 0, 1 or 2.
struct ColourWords {
    uint64_t phase[3];
};

inline ColourWords MakeColourWords(uint8_t blue, uint8_t green, uint8_t red) {
    const uint64_t b = blue;
    const uint64_t g = green;
    const uint64_t r = red;
    const uint64_t triples[3] = {b | g << 8 | r << 16, g | r << 8 | b << 16, r | b << 8 | g << 16};
    ColourWords words;
    for (int32_t p = 0; p < 3; ++p) {
        words.phase[p] = triples[p] | triples[p] << 24 | triples[p] << 48;
    }
    return words;
}
