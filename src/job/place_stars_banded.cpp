#include "job/place_stars_banded.h"

#include "job/star_draws.h"
#include "render/star_bands.h"
#include "render/stars.h"
#include "shell/runtime_services.h"

namespace {

bool InsideShapes(const Star& star) {
    return star.x >= 0 && star.y >= 0 && star.size >= kStarSmallestSize &&
           star.size <= kStarLargestSize;
}

PixelCanvas WholeImageCanvas(const BmpImage* image, const Star& star) {
    return {image->pixels, image->width, image->rows,     image->pad,        star.x,
            star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
}

// The generator promises non-negative values, so every centre lies inside the
// image and every size has a shape. A substitute that breaks the promise still
// gets the stars the renderers draw for such values, drawn on their own.
void DrawOutsideShapes(const BmpImage* image, const Star& star) {
    const PixelCanvas canvas = WholeImageCanvas(image, star);
    if (star.size > kLargestSmallStar) {
        DrawLargeStar(&canvas);
    } else {
        DrawSmallStar(&canvas);
    }
}

// Without the memory for the bands: every star straight into the image.
void PlaceStarsOneByOne(const BmpImage* image, int32_t starCount) {
    StarShapes shapes;
    BuildStarShapes(&shapes);
    for (int32_t i = 0; i < starCount; ++i) {
        const Star star = DrawStar(image);
        if (!InsideShapes(star)) {
            DrawOutsideShapes(image, star);
            continue;
        }
        const PixelCanvas canvas = WholeImageCanvas(image, star);
        DrawStarShape(&canvas, &shapes.bySize[star.size - kStarSmallestSize]);
    }
}

constexpr int32_t kDrawBatch = 256;

void FileOrDrawStar(const BmpImage* image, StarBands* bands, const Star& star) {
    if (!InsideShapes(star)) {
        DrawStarBands(bands);
        DrawOutsideShapes(image, star);
        return;
    }
    const StarColour colour = star.colour;
    if (!FileStar(bands, star.x, star.y, star.size, colour.red, colour.green, colour.blue)) {
        DrawStarBands(bands);
        FileStar(bands, star.x, star.y, star.size, colour.red, colour.green, colour.blue);
    }
}

} // namespace

int32_t BandedChunkStars(int32_t starsLeft, int32_t chunkStars) {
    return starsLeft < chunkStars ? starsLeft : chunkStars;
}

void PlaceStarsBanded(const BmpImage* image, int32_t starCount) {
    PlaceStarsBandedWith(image, starCount, kBandedChunkStars, kStarBandDefaultRows);
}

void PlaceStarsBandedWith(const BmpImage* image, int32_t starCount, int32_t chunkStars,
                          int32_t bandRows) {
    // The loader refuses such images; this guards the divisions below anyway.
    if (image->width <= 0 || image->rows <= 0 || starCount <= 0) {
        return;
    }
    const int32_t chunk = BandedChunkStars(starCount, chunkStars);
    const StarBandsLayout layout =
        PlanStarBands(image->rows, static_cast<size_t>(image->stride), bandRows, chunk);
    void* memory = layout.bytes == 0 ? nullptr : ShellAllocate(layout.bytes);
    if (memory == nullptr) {
        PlaceStarsOneByOne(image, starCount);
        return;
    }
    StarBands* bands =
        StartStarBands(&layout, memory, image->pixels, image->width, image->rows, image->pad);

    // The draws are taken in exactly the order of drawing star by star, a
    // batch at a time: a generator that locks its state waits for every
    // pending write to memory, so filing between draws would stall it. A
    // star that does not fit the pool, or has no shape, first has everything
    // filed before it drawn.
    const StarDivisors divisors = MakeStarDivisors(image);
    int32_t draws[kDrawBatch * kDrawsPerStar];
    int32_t starsLeft = starCount;
    while (starsLeft > 0) {
        const int32_t take = BandedChunkStars(starsLeft, chunk);
        for (int32_t done = 0; done < take;) {
            const int32_t count = take - done < kDrawBatch ? take - done : kDrawBatch;
            ShellRandomDraws(draws, count * kDrawsPerStar);
            for (int32_t i = 0; i < count; ++i) {
                FileOrDrawStar(image, bands, StarFromDraws(&draws[i * kDrawsPerStar], &divisors));
            }
            done += count;
        }
        DrawStarBands(bands);
        starsLeft -= take;
    }
    ShellRelease(memory);
}
