#include "job/place_stars.h"

#include "render/star_spans.h"
#include "shell/runtime_services.h"

namespace {

constexpr int32_t kSizeChoices = 8; // sizes 2 to 9
constexpr int32_t kSmallestSize = kStarSmallestSize;
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

struct Star {
    int32_t x;
    int32_t y;
    int32_t size;
    StarColour colour;
};

// The four draws of one star.
Star DrawStar(const BmpImage* image) {
    // Separate statements: the draws must be taken in exactly this order.
    Star star;
    star.x = ShellRandom() % image->width;
    star.y = ShellRandom() % image->rows;
    star.size = ShellRandom() % kSizeChoices + kSmallestSize;
    star.colour = ColourForIndex(ShellRandom() % kColourChoices);
    return star;
}

// Stars land at random places in an image that is usually far larger than the
// caches: asking for a star's rows while the star before it is drawn hides
// most of the wait for memory.
void PrefetchStar(const BmpImage* image, const Star& star) {
    const int32_t first = star.y - star.size < 0 ? 0 : star.y - star.size;
    const int32_t last = star.y + star.size >= image->rows ? image->rows - 1 : star.y + star.size;
    const uint8_t* column = image->pixels + static_cast<size_t>(star.x) * 3;
    for (int32_t row = first; row <= last; ++row) {
        __builtin_prefetch(column + static_cast<size_t>(row) * static_cast<size_t>(image->stride),
                           1);
    }
}

// Every pixel of a star lies within `size` rows and columns of its centre.
void MarkStarTouched(const BmpImage* image, const Star& star) {
    const int32_t firstRow = star.y - star.size < 0 ? 0 : star.y - star.size;
    const int32_t lastRow =
        star.y + star.size >= image->rows ? image->rows - 1 : star.y + star.size;
    const int32_t firstColumn = star.x - star.size < 0 ? 0 : star.x - star.size;
    const int32_t lastColumn =
        star.x + star.size >= image->width ? image->width - 1 : star.x + star.size;
    for (int32_t row = firstRow; row <= lastRow; ++row) {
        const int32_t rowStart = row * image->stride;
        MarkPixelBytesTouched(image, rowStart + firstColumn * 3, rowStart + lastColumn * 3 + 2);
    }
}

} // namespace

void PlaceStars(const BmpImage* image, int32_t starCount) {
    // The loader refuses such images; this guards the divisions below anyway.
    if (image->width <= 0 || image->rows <= 0 || starCount <= 0) {
        return;
    }
    StarShapes shapes;
    BuildStarShapes(&shapes);

    // Each star's draws are taken before the previous star is drawn; drawing
    // takes no draws, so every star still gets the same four values.
    Star next = DrawStar(image);
    for (int32_t index = 0; index < starCount; ++index) {
        const Star star = next;
        if (index + 1 < starCount) {
            next = DrawStar(image);
            PrefetchStar(image, next);
        }
        const PixelCanvas canvas = {
            image->pixels, image->width, image->rows,     image->pad,        star.x,
            star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
        DrawStarShape(&canvas, &shapes.bySize[star.size - kSmallestSize]);
        MarkStarTouched(image, star);
    }
}
