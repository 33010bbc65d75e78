// One star drawn on its own into a small window of the image, and the runs of pixels it sets there:
// what a job drawing few stars writes into the file at the runs' offsets, so that no row has to be
// read back. A plot only ever overwrites its three bytes, so the runs, written in star order, leave
// the file as drawing every star into the rows in memory would.
#pragma once

#include "render/star_unrolled.h"

#include <cstdint>

// Every pixel of a star lies within kStarLargestSize columns and rows of its centre, whatever
// values it was drawn from.
inline constexpr int32_t kStarWindowSide = 2 * kStarLargestSize + 1;
// A row of the window holds at most every other pixel as a run's start.
inline constexpr int32_t kStarWindowRuns = kStarWindowSide * (kStarWindowSide + 1) / 2;

// A run of pixels the star set: its first pixel's row and column in the image, and its length.
struct StarRun {
    int32_t row;
    int32_t column;
    int32_t pixels;
};

// The window: the star's box cut to the image, its pixels (in file order, rows `width` pixels
// apart, without filler), and the runs.
struct StarWindow {
    int32_t firstColumn;
    int32_t firstRow;
    int32_t width;
    int32_t height;
    int32_t runCount;
    StarRun runs[kStarWindowRuns];
    uint8_t pixels[kStarWindowSide * kStarWindowSide * 3];
};

// Draws the star centred at (x, y) with `size` into a window of an `imageWidth` x `imageRows`
// image, as DrawUnrolledStar draws it into the image (values a substitute generator gives outside
// the shapes, as DrawReferenceStar does), and lists its runs in file order.
void DrawStarWindow(StarWindow* window, int32_t imageWidth, int32_t imageRows, int32_t x, int32_t y,
                    int32_t size, uint8_t red, uint8_t green, uint8_t blue);

// The bytes of a run, in the window.
inline const uint8_t* StarRunBytes(const StarWindow* window, const StarRun& run) {
    const int32_t row = run.row - window->firstRow;
    const int32_t column = run.column - window->firstColumn;
    return window->pixels + (row * window->width + column) * 3;
}
