#include "job/place_stars.h"

#include "job/star_draws.h"
#include "render/star_bands.h"
#include "render/star_unrolled.h"
#include "render/stars.h"
#include "shell/runtime_services.h"

namespace {

// The draws are taken a batch of stars at a time, in exactly the order they
// would be one star at a time (drawing takes none). The generator locks its
// state, which makes the processor wait for every pending write to memory;
// batching leaves the writes of many stars free to overlap.
constexpr int32_t kBatchStars = 256;

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

// Reads the pages of a star's box that are not yet in memory: the rows and
// columns within `size` of its centre (every pixel of a star lies there), cut
// to the image; every page for a star outside the shapes.
BmpStatus LoadStarBox(const BmpImage* image, const Star& star) {
    if (OutsideShapes(star)) {
        return LoadPixelBytes(image, 0, image->pixelBytes - 1);
    }
    const int32_t firstRow = star.y - star.size < 0 ? 0 : star.y - star.size;
    const int32_t lastRow =
        star.y + star.size >= image->rows ? image->rows - 1 : star.y + star.size;
    const int32_t first = star.x - star.size < 0 ? 0 : star.x - star.size;
    const int32_t last = star.x + star.size >= image->width ? image->width - 1 : star.x + star.size;
    for (int32_t row = firstRow; row <= lastRow; ++row) {
        const int32_t rowStart = row * image->stride;
        const BmpStatus status =
            LoadPixelBytes(image, rowStart + first * 3, rowStart + last * 3 + 2);
        if (status != kBmpOk) {
            return status;
        }
    }
    return kBmpOk;
}

// A batch straight into the rows, each star once its pages are in.
BmpStatus DrawBatch(const BmpImage* image, const Star* batch, int32_t count) {
    uint8_t sink[kStarSinkBytes];
    for (int32_t i = 0; i < count; ++i) {
        const Star& star = batch[i];
        if (image->held == kBmpRowsOnDemand && LoadStarBox(image, star) != kBmpOk) {
            return kBmpCannotReadPixels;
        }
        const PixelCanvas canvas = CanvasFor(image, star);
        if (OutsideShapes(star)) {
            DrawReferenceStar(&canvas);
        } else {
            DrawUnrolledStar(&canvas, sink);
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
        memory = layout.bytes == 0 ? nullptr : shell.Allocate(layout.bytes);
        if (memory == nullptr) {
            drawing = kStarsOneByOne;
        } else {
            bands = StartStarBands(&layout, memory, image->pixels, image->width, image->rows,
                                   image->pad);
        }
    }

    const StarDivisors divisors = MakeStarDivisors(image);
    int32_t draws[kBatchStars * kDrawsPerStar];
    Star batch[kBatchStars];
    BmpStatus status = kBmpOk;
    // Counted down from the total: no running sum can overflow.
    for (int32_t left = starCount; left > 0 && status == kBmpOk;) {
        const int32_t count = left < kBatchStars ? left : kBatchStars;
        left -= count;
        shell.RandomDraws(draws, count * kDrawsPerStar);
        for (int32_t i = 0; i < count; ++i) {
            batch[i] = StarFromDraws(&draws[i * kDrawsPerStar], &divisors);
        }
        if (drawing == kStarsInBands) {
            AddBatchToBands(image, bands, batch, count);
        } else {
            status = DrawBatch(image, batch, count);
        }
    }
    if (drawing == kStarsInBands) {
        DrawStarBands(bands);
    }
    shell.Release(memory);
    return status;
}
