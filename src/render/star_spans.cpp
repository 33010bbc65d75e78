#include "render/star_spans.h"

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
static_assert((2 * kStarLargestSize + 1) * 3 <= 64, "a span must fit the colour run");

// Eight bytes a store, as FillRun reads it back.
ColourRun MakeColourRun(const PixelCanvas* canvas) {
    const ColourWords words = MakeColourWords(canvas->blue, canvas->green, canvas->red);
    ColourRun run;
    for (int32_t at = 0; at < 64; at += 8) {
        std::memcpy(run.bytes + at, &words.phase[at % 3], 8);
    }
    return run;
}

// Sets `count` pixels from `pixel` on. Stars land in memory that is rarely in
// cache, where every store waits its turn for the line: eight bytes per
// store rather than one keeps that queue short. The last store may overlap
// the one before it, never the bytes after the span.
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
        // Each run of marked pixels is a span (the bound only guards the array).
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
        // Clear of every border: nothing to clip.
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
