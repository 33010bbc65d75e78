// Stars drawn by stores unrolled for each size.
//
// A dense job spends most of its drawing time in the bookkeeping around each
// star's few dozen stores: loops whose length depends on the size, a table
// entry per store, a read before each partial word. Here every size is a
// fixed sequence of stores of 1 to 8 bytes, chosen at compile time from the
// star's spans, which never write a byte outside the star; a star cut by a
// band edge sends its rows outside the band to a scratch block instead of
// branching on them.
#pragma once

#include "render/star_spans.h"

#include <cstddef>
#include <cstdint>

// Scratch that takes the rows of a star outside its band: its centre is
// kStarSinkCentre bytes in, with room for the widest row either side.
inline constexpr int32_t kStarSinkBytes = 64;
inline constexpr int32_t kStarSinkCentre = 32;

// Draws rows -above to below (each 0 to the star's reach) of the star of
// `size` (2 to 9) whose centre pixel starts at address `centre`; its other
// rows go to `sink`, a block of kStarSinkBytes bytes. Every column of the
// star's box must lie in the image.
void DrawUnrolledStar(uintptr_t centre, size_t stride, int32_t size, int32_t above, int32_t below,
                      uint8_t* sink, uint8_t blue, uint8_t green, uint8_t red);
