#include "job/place_stars.h"

#include "job/star_draws.h"
#include "render/star_spans.h"
#include "render/stars.h"
#include "shell/runtime_services.h"

namespace {

constexpr int32_t kSmallestSize = kStarSmallestSize;

// Stars land at random places in an image that is usually far larger than the
// caches: asking for a star's rows while the stars before it are drawn hides
// most of the wait for memory.
constexpr int32_t kLookAhead = 6;

// The rows and columns a star may cover, cut to the image. Every pixel of a
// star lies within `size` rows and columns of its centre.
struct StarBox {
    int32_t firstRow;
    int32_t lastRow;
    int32_t firstColumn;
    int32_t lastColumn;
};

StarBox BoxOf(const BmpImage* image, const Star& star) {
    StarBox box;
    box.firstRow = star.y - star.size < 0 ? 0 : star.y - star.size;
    box.lastRow = star.y + star.size >= image->rows ? image->rows - 1 : star.y + star.size;
    box.firstColumn = star.x - star.size < 0 ? 0 : star.x - star.size;
    box.lastColumn = star.x + star.size >= image->width ? image->width - 1 : star.x + star.size;
    return box;
}

void PrefetchStar(const BmpImage* image, const Star& star) {
    const StarBox box = BoxOf(image, star);
    const uint8_t* row =
        image->pixels + static_cast<size_t>(box.firstRow) * static_cast<size_t>(image->stride);
    for (int32_t y = box.firstRow; y <= box.lastRow; ++y) {
        // A star's row covers at most 57 bytes: two cache lines at most.
        __builtin_prefetch(row + static_cast<size_t>(box.firstColumn) * 3, 1);
        __builtin_prefetch(row + static_cast<size_t>(box.lastColumn) * 3 + 2, 1);
        row += image->stride;
    }
}

// Reads the pages of a star's box that are not yet in memory.
BmpStatus LoadStarBox(const BmpImage* image, const Star& star) {
    const StarBox box = BoxOf(image, star);
    for (int32_t row = box.firstRow; row <= box.lastRow; ++row) {
        const int32_t rowStart = row * image->stride;
        const BmpStatus status = LoadPixelBytes(image, rowStart + box.firstColumn * 3,
                                                rowStart + box.lastColumn * 3 + 2);
        if (status != kBmpOk) {
            return status;
        }
    }
    return kBmpOk;
}

// The generator promises non-negative values, so every centre lies inside the
// image and every size has a shape. A substitute that breaks the promise still
// gets the stars the renderers draw for such values, just without the fast
// path, and with every row in memory first.
bool OutsideShapes(const Star& star) {
    return star.x < 0 || star.y < 0 || star.size < kStarSmallestSize ||
           star.size > kStarLargestSize;
}

void DrawOutsideShapes(const BmpImage* image, const Star& star) {
    const PixelCanvas canvas = {
        image->pixels, image->width, image->rows,     image->pad,        star.x,
        star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
    if (star.size > kLargestSmallStar) {
        DrawLargeStar(&canvas);
    } else {
        DrawSmallStar(&canvas);
    }
}

} // namespace

int32_t NextBatchSize(int32_t drawn, int32_t starCount) {
    const int32_t left = starCount - drawn;
    return left < kPlaceBatchStars ? left : kPlaceBatchStars;
}

BmpStatus PlaceStars(const BmpImage* image, int32_t starCount) {
    // The loader refuses such images; this guards the divisions below anyway.
    if (image->width <= 0 || image->rows <= 0 || starCount <= 0) {
        return kBmpOk;
    }
    StarShapes shapes;
    BuildStarShapes(&shapes);

    // The draws are taken a batch of stars at a time, in exactly the order
    // they would be one star at a time (drawing takes none). The generator
    // locks its state, which makes the processor wait for every pending write
    // to memory; batching leaves the writes of many stars free to overlap,
    // and the rows of the next few stars are fetched while one is drawn.
    Star batch[kPlaceBatchStars];
    int32_t drawn = 0;
    while (drawn < starCount) {
        // Counted up to the total, never past it: no sum can overflow.
        const int32_t count = NextBatchSize(drawn, starCount);
        drawn += count;
        bool plain = false;
        for (int32_t i = 0; i < count; ++i) {
            batch[i] = DrawStar(image);
            plain = plain || OutsideShapes(batch[i]);
        }
        if (plain) {
            // Rare enough to take the plain way for the whole batch.
            if (LoadPixelBytes(image, 0, image->pixelBytes - 1) != kBmpOk) {
                return kBmpCannotReadPixels;
            }
            for (int32_t i = 0; i < count; ++i) {
                DrawOutsideShapes(image, batch[i]);
            }
            continue;
        }
        const bool onDemand = image->loadedPages != nullptr;
        for (int32_t i = 0; i < count && i < kLookAhead && !onDemand; ++i) {
            PrefetchStar(image, batch[i]);
        }
        for (int32_t i = 0; i < count; ++i) {
            const Star& star = batch[i];
            if (onDemand) {
                if (LoadStarBox(image, star) != kBmpOk) {
                    return kBmpCannotReadPixels;
                }
            } else if (i + kLookAhead < count) {
                PrefetchStar(image, batch[i + kLookAhead]);
            }
            const PixelCanvas canvas = {
                image->pixels, image->width, image->rows,     image->pad,        star.x,
                star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
            DrawStarShape(&canvas, &shapes.bySize[star.size - kSmallestSize]);
        }
    }
    return kBmpOk;
}
