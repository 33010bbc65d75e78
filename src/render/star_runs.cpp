#include "render/star_runs.h"

#include "render/stars.h"

void DrawStarWindow(StarWindow* window, int32_t imageWidth, int32_t imageRows, int32_t x, int32_t y,
                    int32_t size, uint8_t red, uint8_t green, uint8_t blue) {
    const bool shaped = StarInShapes(x, y, size);
    const int32_t reach = shaped ? size : kStarLargestSize;
    // The box cut to the image. Clipping to it is clipping to the image: the star has no pixel in
    // the part of the box the cut leaves out.
    window->firstColumn = x - reach < 0 ? 0 : x - reach;
    window->firstRow = y - reach < 0 ? 0 : y - reach;
    const int32_t lastColumn = x + reach >= imageWidth ? imageWidth - 1 : x + reach;
    const int32_t lastRow = y + reach >= imageRows ? imageRows - 1 : y + reach;
    window->width = lastColumn - window->firstColumn + 1;
    window->height = lastRow - window->firstRow + 1;
    window->runCount = 0;
    if (window->width <= 0 || window->height <= 0) {
        return;
    }
    // Every byte starts as the colour's complement, so a pixel holds the colour exactly where set.
    const uint8_t unset[3] = {static_cast<uint8_t>(~blue), static_cast<uint8_t>(~green),
                              static_cast<uint8_t>(~red)};
    const int32_t bytes = window->width * window->height * 3;
    for (int32_t at = 0; at < bytes; ++at) {
        window->pixels[at] = unset[at % 3];
    }
    const int32_t cx = x - window->firstColumn;
    const int32_t cy = y - window->firstRow;
    const PixelCanvas canvas = {window->pixels, window->width, window->height, 0,   cx, cy,
                                size,           red,           green,          blue};
    if (shaped) {
        uint8_t sink[kStarSinkBytes];
        DrawUnrolledStar(&canvas, sink);
    } else {
        DrawReferenceStar(&canvas);
    }
    for (int32_t row = 0; row < window->height; ++row) {
        const uint8_t* pixel = window->pixels + row * window->width * 3;
        for (int32_t column = 0; column < window->width; ++column, pixel += 3) {
            if (pixel[0] != blue || pixel[1] != green || pixel[2] != red) {
                continue;
            }
            StarRun* last = window->runCount > 0 ? &window->runs[window->runCount - 1] : nullptr;
            if (last != nullptr && last->row == window->firstRow + row &&
                last->column + last->pixels == window->firstColumn + column) {
                ++last->pixels;
            } else {
                window->runs[window->runCount++] = {window->firstRow + row,
                                                    window->firstColumn + column, 1};
            }
        }
    }
}
