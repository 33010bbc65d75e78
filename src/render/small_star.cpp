#include "render/stars.h"

void DrawSmallStar(const PixelCanvas* canvas) {
    const int32_t cx = canvas->cx;
    const int32_t cy = canvas->cy;
    const int32_t size = canvas->size;
    const int32_t half = size / 2;
    for (int32_t i = -size; i <= size; ++i) {
        PlotPixel(canvas, cx + i, cy);
    }
    for (int32_t j = -size; j <= size; ++j) {
        PlotPixel(canvas, cx, cy + j);
    }
    for (int32_t k = -half; k <= half; ++k) {
        PlotPixel(canvas, cx + k, cy + k);
        PlotPixel(canvas, cx + k, cy - k);
    }
}
