// Where and how the star renderers write: one star's view of the pixel array.
#pragma once

#include <cstddef>
#include <cstdint>

// Coordinates are (column, row) in the order the rows are stored: row 0 is the first row in the
// file, whether the picture is bottom-up or top-down.
struct PixelCanvas {
    uint8_t* pixels; // the BMP pixel rows
    int32_t width;   // pixels per row
    int32_t height;  // number of rows
    int32_t pad;     // filler bytes after each row; never written
    int32_t cx;      // star centre column
    int32_t cy;      // star centre row
    int32_t size;    // star size, 2 to 9
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// Sets pixel (x, y) to the canvas colour, stored blue, green, red. Points outside the image are
// dropped, not clamped.
inline void PlotPixel(const PixelCanvas* canvas, int32_t x, int32_t y) {
    if (x < 0 || x >= canvas->width || y < 0 || y >= canvas->height) {
        return;
    }
    size_t stride = static_cast<size_t>(canvas->width) * 3 + static_cast<size_t>(canvas->pad);
    uint8_t* pixel = canvas->pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
    pixel[0] = canvas->blue;
    pixel[1] = canvas->green;
    pixel[2] = canvas->red;
}
