#include "straightforward_stars.h"

#include "render/direction.h"

#include <cstdlib>

void StraightforwardSmallStar(const PixelCanvas* canvas) {
    const int32_t size = canvas->size;
    for (int32_t i = -size; i <= size; ++i) {
        PlotPixel(canvas, canvas->cx + i, canvas->cy);
    }
    for (int32_t j = -size; j <= size; ++j) {
        PlotPixel(canvas, canvas->cx, canvas->cy + j);
    }
    for (int32_t k = -(size / 2); k <= size / 2; ++k) {
        PlotPixel(canvas, canvas->cx + k, canvas->cy + k);
        PlotPixel(canvas, canvas->cx + k, canvas->cy - k);
    }
}

void StraightforwardLargeStar(const PixelCanvas* canvas) {
    const int32_t size = canvas->size;
    const int32_t half = size / 2;
    for (int32_t k = 0; k < 5; ++k) {
        const double longAngle = static_cast<double>(k) * 1.25663706 - 1.570796325;
        const double shortAngle = (static_cast<double>(k) + 0.5) * 1.25663706 - 1.570796325;
        for (int32_t r = 0; r <= size; ++r) {
            const Direction d = ApproximateDirection(longAngle);
            PlotPixel(canvas, canvas->cx + static_cast<int32_t>(static_cast<double>(r) * d.c),
                      canvas->cy + static_cast<int32_t>(static_cast<double>(r) * d.s));
        }
        for (int32_t r = 0; r <= half; ++r) {
            const Direction d = ApproximateDirection(shortAngle);
            PlotPixel(canvas, canvas->cx + static_cast<int32_t>(static_cast<double>(r) * d.c),
                      canvas->cy + static_cast<int32_t>(static_cast<double>(r) * d.s));
        }
    }
    for (int32_t y = canvas->cy - size; y <= canvas->cy + size; ++y) {
        for (int32_t x = canvas->cx - size; x <= canvas->cx + size; ++x) {
            const int32_t dx = x < canvas->cx ? canvas->cx - x : x - canvas->cx;
            const int32_t dy = y < canvas->cy ? canvas->cy - y : y - canvas->cy;
            if (dx == 0 || dy == 0 || dx + dy <= half + 2) {
                PlotPixel(canvas, x, y);
            }
        }
    }
}

void StraightforwardPlaceStars(const MemoryImage* image, int32_t starCount) {
    for (int32_t star = 0; star < starCount; ++star) {
        // rand() itself, one call per draw, as the literal job takes them.
        const int32_t x = std::rand() % image->width;
        const int32_t y = std::rand() % image->rows;
        const int32_t size = std::rand() % 8 + 2;
        const int32_t index = std::rand() % 4;
        uint8_t red = 255;
        uint8_t green = 255;
        uint8_t blue = 255;
        if (index == 1) {
            blue = 200;
        } else if (index == 2) {
            red = 200;
            green = 220;
        }
        const PixelCanvas canvas = {image->pixels, image->width, image->rows, image->pad, x, y,
                                    size,          red,          green,       blue};
        if (size > 4) {
            StraightforwardLargeStar(&canvas);
        } else {
            StraightforwardSmallStar(&canvas);
        }
    }
}
