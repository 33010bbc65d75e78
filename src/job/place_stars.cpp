#include "job/place_stars.h"

#include "job/star_draws.h"
#include "render/star_bands.h"
#include "render/star_spans.h"
#include "render/stars.h"
#include "shell/runtime_services.h"

namespace {

// The draws are taken a batch of stars at a time, in exactly the order they
// would be one star at a time (drawing takes none). The generator locks its
// state, which makes the processor wait for every pending write to memory;
// batching leaves the writes of many stars free to overlap.
constexpr int32_t kBatchStars = 256;

// Stars land at random places in an image that is usually far larger than the
// caches: asking for a star's rows while the stars before it are drawn hides
// most of the wait for memory.
constexpr int32_t kLookAhead = 6;

// The bands hold this many stars at most; more are drawn in turns, which
// bounds their memory whatever the star count.
constexpr int32_t kBandPoolStars = 1 << 20;

// The generator promises non-negative values, so every centre lies inside the
// image and every size has a shape. A substitute that breaks the promise still
// gets the stars the renderers draw for such values, drawn on their own.
bool OutsideShapes(const Star& star) {
    return star.x < 0 || star.y < 0 || star.size < kStarSmallestSize ||
           star.size > kStarLargestSize;
}

PixelCanvas CanvasFor(const BmpImage* image, const Star& star) {
    return {image->pixels, image->width, image->rows,     image->pad,        star.x,
            star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
}

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
    if (OutsideShapes(star)) {
        return;
    }
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

// Reads the pages of a star's box that are not yet in memory; every page for
// a star outside the shapes.
BmpStatus LoadStarBox(const BmpImage* image, const Star& star) {
    if (OutsideShapes(star)) {
        return LoadPixelBytes(image, 0, image->pixelBytes - 1);
    }
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

// A batch straight into the rows, the rows of the next few stars asked for
// while one is drawn.
BmpStatus DrawBatch(const BmpImage* image, const StarShapes* shapes, const Star* batch,
                    int32_t count) {
    const bool onDemand = image->held == kBmpRowsOnDemand;
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
        const PixelCanvas canvas = CanvasFor(image, star);
        if (OutsideShapes(star)) {
            DrawReferenceStar(&canvas);
        } else {
            DrawStarShape(&canvas, &shapes->bySize[star.size - kStarSmallestSize]);
        }
    }
    return kBmpOk;
}

// A batch into the bands. A star that does not fit the bands' pool, or has no
// shape, first has every star added before it drawn.
void AddBatchToBands(const BmpImage* image, StarBands* bands, const Star* batch, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const Star& star = batch[i];
        const StarColour colour = star.colour;
        if (OutsideShapes(star)) {
            DrawStarBands(bands);
            const PixelCanvas canvas = CanvasFor(image, star);
            DrawReferenceStar(&canvas);
        } else if (!AddStarToBands(bands, star.x, star.y, star.size, colour.red, colour.green,
                                   colour.blue)) {
            DrawStarBands(bands);
            AddStarToBands(bands, star.x, star.y, star.size, colour.red, colour.green, colour.blue);
        }
    }
}

} // namespace

BmpStatus PlaceStars(const BmpImage* image, int32_t starCount, StarDrawing drawing) {
    // The loader refuses such images; this guards the divisions below anyway.
    if (image->width <= 0 || image->rows <= 0 || starCount <= 0) {
        return kBmpOk;
    }
    if (image->held == kBmpRowsOnDemand) {
        drawing = kStarsOneByOne;
    }
    void* memory = nullptr;
    StarBands* bands = nullptr;
    if (drawing == kStarsInBands) {
        const int32_t poolStars = starCount < kBandPoolStars ? starCount : kBandPoolStars;
        const StarBandsLayout layout =
            PlanStarBands(image->rows, static_cast<size_t>(image->stride), poolStars);
        memory = layout.bytes == 0 ? nullptr : ShellAllocate(layout.bytes);
        if (memory == nullptr) {
            drawing = kStarsOneByOne;
        } else {
            bands = StartStarBands(&layout, memory, image->pixels, image->width, image->rows,
                                   image->pad);
        }
    }
    StarShapes shapes;
    if (drawing == kStarsOneByOne) {
        BuildStarShapes(&shapes);
    }

    const StarDivisors divisors = MakeStarDivisors(image);
    int32_t draws[kBatchStars * kDrawsPerStar];
    Star batch[kBatchStars];
    BmpStatus status = kBmpOk;
    // Counted down from the total: no running sum can overflow.
    for (int32_t left = starCount; left > 0 && status == kBmpOk;) {
        const int32_t count = left < kBatchStars ? left : kBatchStars;
        left -= count;
        ShellRandomDraws(draws, count * kDrawsPerStar);
        for (int32_t i = 0; i < count; ++i) {
            batch[i] = StarFromDraws(&draws[i * kDrawsPerStar], &divisors);
        }
        if (drawing == kStarsInBands) {
            AddBatchToBands(image, bands, batch, count);
        } else {
            status = DrawBatch(image, &shapes, batch, count);
        }
    }
    if (drawing == kStarsInBands) {
        DrawStarBands(bands);
    }
    ShellRelease(memory);
    return status;
}
