// Stars drawn by stores unrolled for each size.
//
// A dense job spends most of its drawing time in the bookkeeping around each star's few dozen
// stores: loops whose length depends on the size, a table entry per store, a read before each
// partial word. Here every size is a fixed sequence of stores of 1 to 8 bytes, chosen at compile
// time from the star's spans (the runs of pixels of each row), which never write a byte outside the
// star; rows outside the canvas go to a scratch block instead of being branched around. The tests
// hold the stores to the reference renderers' bytes.
#pragma once

#include "render/pixel_canvas.h"

#include <cstdint>

inline constexpr int32_t kStarSmallestSize = 2;
inline constexpr int32_t kStarLargestSize = 9;

// The generator promises non-negative values, so every centre lies inside the image and every size
// has a shape; a substitute generator's may not, and only the reference renderers draw those.
inline bool StarInShapes(int32_t x, int32_t y, int32_t size) {
    return x >= 0 && y >= 0 && size >= kStarSmallestSize && size <= kStarLargestSize;
}

// Columns first..last (inclusive) of row `row`, as offsets from the centre.
struct StarSpan {
    int8_t row;
    int8_t first;
    int8_t last;
};

// A star's colour in file order, repeated, as values: stores of them never read the colour from
// memory, where the bytes just written to make it could only be read once every store before them,
// the last star's too, is done. Byte i of phase p is blue, green, red for (p + i) % 3 = 0, 1, 2.
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

// Takes the rows of a star outside the canvas: its centre is kStarSinkCentre bytes in, with room
// for the widest row either side.
inline constexpr int32_t kStarSinkBytes = 64;
inline constexpr int32_t kStarSinkCentre = 32;

// Draws the canvas's star (size 2 to 9) clipped to the canvas, the bytes DrawReferenceStar sets: by
// the unrolled stores where every column of the star lies in the image, by the reference renderers
// near the side edges. The star must reach the canvas's rows; its centre may lie outside them.
// `sink` is a block of kStarSinkBytes bytes.
void DrawUnrolledStar(const PixelCanvas* canvas, uint8_t* sink);
