#include "job/place_stars.h"

#include "render/stars.h"
#include "shell/runtime_services.h"

namespace {

constexpr int32_t kSizeChoices = 8; // sizes 2 to 9
constexpr int32_t kSmallestSize = 2;
constexpr int32_t kLargestSmallStar = 4; // larger sizes get rays
constexpr int32_t kColourChoices = 4;

struct StarColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

constexpr StarColour kWhite = {255, 255, 255};
constexpr StarColour kPaleYellow = {255, 255, 200};
constexpr StarColour kPaleBlue = {200, 220, 255};

// Half the choices are white: index 0 and 3.
StarColour ColourForIndex(int32_t index) {
    switch (index) {
    case 1:
        return kPaleYellow;
    case 2:
        return kPaleBlue;
    default:
        return kWhite;
    }
}

} // namespace

void PlaceStars(const BmpImage* image, int32_t starCount) {
    // The loader refuses such images; this guards the divisions below anyway.
    if (image->width <= 0 || image->rows <= 0) {
        return;
    }
    for (int32_t star = 0; star < starCount; ++star) {
        // Separate statements: the draws must be taken in exactly this order.
        const int32_t x = ShellRandom() % image->width;
        const int32_t y = ShellRandom() % image->rows;
        const int32_t size = ShellRandom() % kSizeChoices + kSmallestSize;
        const StarColour colour = ColourForIndex(ShellRandom() % kColourChoices);

        const PixelCanvas canvas = {image->pixels, image->width, image->rows,  image->pad, x, y,
                                    size,          colour.red,   colour.green, colour.blue};
        if (size > kLargestSmallStar) {
            DrawLargeStar(&canvas);
        } else {
            DrawSmallStar(&canvas);
        }
    }
}
