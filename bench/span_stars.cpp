#include "span_stars.h"

#include "job/star_draws.h"
#include "platform/platform_calls.h"
#include "render/stars.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// A scratch canvas just large enough for the largest star, centred.
constexpr int32_t kScratchSide = 2 * kStarLargestSize + 1;
constexpr int32_t kScratchStride = kScratchSide * 3 + 3; // 57 bytes of pixels, pad 3
constexpr uint8_t kScratchMark = 1;

// The canvas colour repeated, blue, green, red, enough for the widest span.
struct ColourRun {
    uint8_t bytes[64];
};

ColourRun MakeColourRun(const PixelCanvas* canvas) {
    const ColourWords words = MakeColourWords(canvas->blue, canvas->green, canvas->red);
    ColourRun run;
    for (int32_t at = 0; at < 64; at += 8) {
        std::memcpy(run.bytes + at, &words.phase[at % 3], 8);
    }
    return run;
}

// Eight bytes per store; the last may overlap the one before it, never the
// bytes after the span.
inline void FillRun(uint8_t* pixel, int32_t count, const ColourRun& colour) {
    const size_t bytes = static_cast<size_t>(count) * 3;
    if (bytes >= 8) {
        size_t at = 0;
        for (; at + 8 < bytes; at += 8) {
            std::memcpy(pixel + at, colour.bytes + at, 8);
        }
        std::memcpy(pixel + bytes - 8, colour.bytes + bytes - 8, 8);
    } else if (bytes == 6) {
        std::memcpy(pixel, colour.bytes, 4);
        std::memcpy(pixel + 4, colour.bytes + 4, 2);
    } else {
        std::memcpy(pixel, colour.bytes, 2);
        pixel[2] = colour.bytes[2];
    }
}

constexpr int32_t kBatchStars = 256;
constexpr int32_t kLookAhead = 6;

void PrefetchStar(const MemoryImage* image, const Star& star) {
    const int32_t firstRow = std::max(star.y - star.size, 0);
    const int32_t lastRow = std::min(star.y + star.size, image->rows - 1);
    const int32_t first = std::max(star.x - star.size, 0);
    const int32_t last = std::min(star.x + star.size, image->width - 1);
    const uint8_t* row =
        image->pixels + static_cast<size_t>(firstRow) * static_cast<size_t>(image->stride);
    for (int32_t y = firstRow; y <= lastRow; ++y) {
        __builtin_prefetch(row + static_cast<size_t>(first) * 3, 1);
        __builtin_prefetch(row + static_cast<size_t>(last) * 3 + 2, 1);
        row += image->stride;
    }
}

} // namespace

void BuildStarShapes(StarShapes* shapes) {
    for (int32_t size = kStarSmallestSize; size <= kStarLargestSize; ++size) {
        uint8_t scratch[kScratchSide * kScratchStride];
        std::memset(scratch, 0, sizeof scratch);
        const PixelCanvas canvas = {scratch,          kScratchSide,     kScratchSide, 3,
                                    kStarLargestSize, kStarLargestSize, size,         kScratchMark,
                                    kScratchMark,     kScratchMark};
        DrawReferenceStar(&canvas);
        StarShape* shape = &shapes->bySize[size - kStarSmallestSize];
        *shape = {};
        for (int32_t y = 0; y < kScratchSide; ++y) {
            const uint8_t* row = scratch + y * kScratchStride;
            for (int32_t x = 0; x < kScratchSide && shape->spanCount < kStarMaxSpans; ++x) {
                if (row[x * 3] != kScratchMark) {
                    continue;
                }
                const int32_t first = x;
                while (x + 1 < kScratchSide && row[(x + 1) * 3] == kScratchMark) {
                    ++x;
                }
                const StarSpan span = {static_cast<int8_t>(y - kStarLargestSize),
                                       static_cast<int8_t>(first - kStarLargestSize),
                                       static_cast<int8_t>(x - kStarLargestSize)};
                shape->spans[shape->spanCount++] = span;
                shape->reach = std::max(
                    {shape->reach, std::abs(span.row), std::abs(span.first), std::abs(span.last)});
            }
        }
    }
}

void DrawStarShape(const PixelCanvas* canvas, const StarShape* shape) {
    const int32_t cx = canvas->cx;
    const int32_t cy = canvas->cy;
    const int32_t reach = shape->reach;
    const size_t stride = static_cast<size_t>(canvas->width) * 3 + static_cast<size_t>(canvas->pad);
    const ColourRun colour = MakeColourRun(canvas);
    if (cx - reach >= 0 && cx + reach < canvas->width && cy - reach >= 0 &&
        cy + reach < canvas->height) {
        uint8_t* centre =
            canvas->pixels + static_cast<size_t>(cy) * stride + static_cast<size_t>(cx) * 3;
        for (int32_t i = 0; i < shape->spanCount; ++i) {
            const StarSpan span = shape->spans[i];
            uint8_t* pixel = centre +
                             static_cast<ptrdiff_t>(span.row) * static_cast<ptrdiff_t>(stride) +
                             static_cast<ptrdiff_t>(span.first) * 3;
            FillRun(pixel, span.last - span.first + 1, colour);
        }
        return;
    }
    for (int32_t i = 0; i < shape->spanCount; ++i) {
        const StarSpan span = shape->spans[i];
        const int32_t y = cy + span.row;
        if (y < 0 || y >= canvas->height) {
            continue;
        }
        const int32_t first = std::max(cx + span.first, 0);
        const int32_t last = std::min(cx + span.last, canvas->width - 1);
        if (first > last) {
            continue;
        }
        uint8_t* pixel =
            canvas->pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(first) * 3;
        FillRun(pixel, last - first + 1, colour);
    }
}

void PlaceStarsSpanBySpan(const MemoryImage* image, int32_t starCount) {
    StarShapes shapes;
    BuildStarShapes(&shapes);
    const StarDivisors divisors = {image->width, image->rows, FactorFor(image->width),
                                   FactorFor(image->rows)};
    int32_t draws[kBatchStars * kDrawsPerStar];
    Star batch[kBatchStars];
    for (int32_t left = starCount; left > 0;) {
        const int32_t count = left < kBatchStars ? left : kBatchStars;
        left -= count;
        shell.RandomDraws(draws, count * kDrawsPerStar);
        for (int32_t i = 0; i < count; ++i) {
            batch[i] = StarFromDraws(&draws[i * kDrawsPerStar], &divisors);
        }
        for (int32_t i = 0; i < count && i < kLookAhead; ++i) {
            PrefetchStar(image, batch[i]);
        }
        for (int32_t i = 0; i < count; ++i) {
            if (i + kLookAhead < count) {
                PrefetchStar(image, batch[i + kLookAhead]);
            }
            const Star& star = batch[i];
            const PixelCanvas canvas = {
                image->pixels, image->width, image->rows,     image->pad,        star.x,
                star.y,        star.size,    star.colour.red, star.colour.green, star.colour.blue};
            DrawStarShape(&canvas, &shapes.bySize[star.size - kStarSmallestSize]);
        }
    }
}
