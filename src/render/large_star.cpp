#include "render/direction.h"
#include "render/stars.h"

namespace {

constexpr double kRayStep = 1.25663706;      // a fifth of a turn between long rays
constexpr double kStartOffset = 1.570796325; // a quarter turn, so ray 0 points to row 0
constexpr double kShortRayShift = 0.5;       // short rays sit half a step after their long ray
constexpr int32_t kDiamondMargin = 2;        // diamond radius is size / 2 plus this
constexpr int32_t kRayCount = 5;

// One ray from the centre: radii 0 to length. The direction depends on the angle alone, so it is
// worked out once per ray.
void DrawRay(const PixelCanvas* canvas, double angle, int32_t length) {
    const Direction direction = ApproximateDirection(angle);
    for (int32_t r = 0; r <= length; ++r) {
        // Each product is rounded to a double before truncation towards zero.
        const double dx = static_cast<double>(r) * direction.c;
        const double dy = static_cast<double>(r) * direction.s;
        PlotPixel(canvas, canvas->cx + static_cast<int32_t>(dx),
                  canvas->cy + static_cast<int32_t>(dy));
    }
}

} // namespace

void DrawLargeStar(const PixelCanvas* canvas) {
    const int32_t size = canvas->size;
    const int32_t half = size / 2;
    for (int32_t k = 0; k < kRayCount; ++k) {
        const double longAngle = static_cast<double>(k) * kRayStep - kStartOffset;
        const double shortAngle =
            (static_cast<double>(k) + kShortRayShift) * kRayStep - kStartOffset;
        DrawRay(canvas, longAngle, size);
        DrawRay(canvas, shortAngle, half);
    }

    // Centre: the plus sign's two arms and the filled diamond.
    const int32_t diamondRadius = half + kDiamondMargin;
    for (int32_t y = canvas->cy - size; y <= canvas->cy + size; ++y) {
        for (int32_t x = canvas->cx - size; x <= canvas->cx + size; ++x) {
            const int32_t dx = x < canvas->cx ? canvas->cx - x : x - canvas->cx;
            const int32_t dy = y < canvas->cy ? canvas->cy - y : y - canvas->cy;
            if (dx == 0 || dy == 0 || dx + dy <= diamondRadius) {
                PlotPixel(canvas, x, y);
            }
        }
    }
}
