#include "render/star_unrolled.h"

#include "render/stars.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <utility>

namespace {

// The spans of each size, row by row, left to right, in what DrawSmallStar and DrawLargeStar draw.
constexpr StarSpan kSpans2[] = {{-2, 0, 0}, {-1, -1, 1}, {0, -2, 2}, {1, -1, 1}, {2, 0, 0}};
constexpr StarSpan kSpans3[] = {{-3, 0, 0}, {-2, 0, 0}, {-1, -1, 1}, {0, -3, 3},
                                {1, -1, 1}, {2, 0, 0},  {3, 0, 0}};
constexpr StarSpan kSpans4[] = {{-4, 0, 0},  {-3, 0, 0}, {-2, -2, -2}, {-2, 0, 0},  {-2, 2, 2},
                                {-1, -1, 1}, {0, -4, 4}, {1, -1, 1},   {2, -2, -2}, {2, 0, 0},
                                {2, 2, 2},   {3, 0, 0},  {4, 0, 0}};
constexpr StarSpan kSpans5[] = {{-5, 0, 0}, {-4, -1, 0}, {-3, -1, 1}, {-2, -2, 2}, {-1, -4, 4},
                                {0, -5, 5}, {1, -3, 3},  {2, -2, 2},  {3, -2, 2},  {4, -2, -2},
                                {4, 0, 0},  {4, 2, 2},   {5, 0, 0}};
constexpr StarSpan kSpans6[] = {{-6, 0, 0},  {-5, -1, 0}, {-4, -1, 1}, {-3, -2, 2}, {-2, -3, 3},
                                {-1, -5, 5}, {0, -6, 6},  {1, -4, 4},  {2, -3, 3},  {3, -2, 2},
                                {4, -3, 3},  {5, 0, 0},   {6, 0, 0}};
constexpr StarSpan kSpans7[] = {{-7, 0, 0},  {-6, -1, 0}, {-5, -1, 0}, {-4, -1, 1}, {-3, -2, 2},
                                {-2, -3, 3}, {-2, 6, 6},  {-1, -6, 5}, {0, -7, 7},  {1, -4, 4},
                                {2, -3, 3},  {3, -2, 2},  {4, -3, 3},  {5, -4, -4}, {5, 0, 0},
                                {5, 3, 3},   {6, 0, 0},   {7, 0, 0}};
constexpr StarSpan kSpans8[] = {{-8, 0, 0},  {-7, -1, 0}, {-6, -1, 0}, {-5, -1, 1}, {-4, -2, 2},
                                {-3, -3, 3}, {-2, -4, 4}, {-2, 6, 7},  {-1, -7, 5}, {0, -8, 8},
                                {1, -5, 5},  {2, -4, 4},  {3, -3, 3},  {4, -3, 3},  {5, -4, -4},
                                {5, -1, 1},  {5, 3, 3},   {6, -4, -4}, {6, 0, 0},   {6, 4, 4},
                                {7, 0, 0},   {8, 0, 0}};
constexpr StarSpan kSpans9[] = {
    {-9, 0, 0},  {-8, -2, -2}, {-8, 0, 0},  {-7, -1, 0}, {-6, -1, 0}, {-5, -1, 1}, {-4, -2, 2},
    {-3, -3, 3}, {-2, -4, 4},  {-2, 6, 8},  {-1, -8, 5}, {0, -9, 9},  {1, -5, 5},  {2, -4, 4},
    {3, -3, 3},  {4, -3, 3},   {5, -4, -4}, {5, -1, 1},  {5, 3, 3},   {6, -4, -4}, {6, 0, 0},
    {6, 4, 4},   {7, -5, -5},  {7, 0, 0},   {7, 5, 5},   {8, 0, 0},   {9, 0, 0}};

static_assert(kStarSinkCentre >= 3 * kStarLargestSize &&
                  kStarSinkCentre + 3 * kStarLargestSize + 3 <= kStarSinkBytes,
              "a row sent to the sink stays inside it");

// The Width bytes at byte Offset of a run: the word of Offset's phase, cut to that width.
template <int32_t Offset, int32_t Width>
inline void StoreAt(uint8_t* at, const ColourWords& colour) {
    using Part =
        std::conditional_t<Width == 8, uint64_t,
                           std::conditional_t<Width == 4, uint32_t,
                                              std::conditional_t<Width == 2, uint16_t, uint8_t>>>;
    const Part part = static_cast<Part>(colour.phase[Offset % 3]);
    std::memcpy(at + Offset, &part, Width);
}

// `Bytes` bytes from `at` on: eight-byte stores, four-byte ones for 6 bytes, the last overlapping
// the one before; 3 bytes take a two- and a one-byte.
template <int32_t Bytes> inline void StoreRun(uint8_t* at, const ColourWords& colour) {
    static_assert(Bytes % 3 == 0 && Bytes >= 3 && Bytes <= 64);
    if constexpr (Bytes == 3) {
        StoreAt<0, 2>(at, colour);
        StoreAt<2, 1>(at, colour);
    } else {
        constexpr int32_t kWidth = Bytes >= 8 ? 8 : 4;
        [&]<int32_t... I>(std::integer_sequence<int32_t, I...>) {
            (StoreAt<kWidth * I, kWidth>(at, colour), ...);
        }
        (std::make_integer_sequence<int32_t, (Bytes - 1) / kWidth>());
        StoreAt<Bytes - kWidth, kWidth>(at, colour);
    }
}

// One span, in its row or, outside rows -above to below, in the sink: one unsigned comparison,
// Row + above from 0 to above + below.
template <int32_t Row, int32_t First, int32_t Last>
inline void StoreSpan(uintptr_t centre, size_t stride, int32_t above, uint32_t rowsInside,
                      uintptr_t sink, const ColourWords& colour) {
    const uintptr_t row = centre + static_cast<uintptr_t>(static_cast<intptr_t>(Row)) * stride;
    const bool inside = static_cast<uint32_t>(Row + above) < rowsInside;
    const uintptr_t base = inside ? row : sink;
    uint8_t* at = reinterpret_cast<uint8_t*>(base + static_cast<uintptr_t>(First * 3));
    StoreRun<(Last - First + 1) * 3>(at, colour);
}

// Every span of one size's table, unrolled.
template <const auto& Spans>
inline void StoreSpans(uintptr_t centre, size_t stride, int32_t above, uint32_t rowsInside,
                       uintptr_t sink, const ColourWords& colour) {
    [&]<size_t... I>(std::index_sequence<I...>) {
        (StoreSpan<Spans[I].row, Spans[I].first, Spans[I].last>(centre, stride, above, rowsInside,
                                                                sink, colour),
         ...);
    }
    (std::make_index_sequence<std::size(Spans)>());
}

} // namespace

void DrawUnrolledStar(const PixelCanvas* canvas, uint8_t* sink) {
    const int32_t size = canvas->size;
    if (canvas->cx < size || canvas->cx + size >= canvas->width) {
        DrawReferenceStar(canvas);
        return;
    }
    const size_t stride = static_cast<size_t>(canvas->width) * 3 + static_cast<size_t>(canvas->pad);
    const int32_t above = std::min(canvas->cy, size);
    const int32_t below = std::min(canvas->height - 1 - canvas->cy, size);
    const uint32_t rowsInside = static_cast<uint32_t>(above + below + 1);
    // In addresses, not pointers: the centre may lie outside the canvas.
    const uintptr_t centre = reinterpret_cast<uintptr_t>(canvas->pixels) +
                             static_cast<uintptr_t>(static_cast<intptr_t>(canvas->cy)) * stride +
                             static_cast<uintptr_t>(canvas->cx) * 3;
    const uintptr_t sinkCentre = reinterpret_cast<uintptr_t>(sink) + kStarSinkCentre;
    const ColourWords bytes = MakeColourWords(canvas->blue, canvas->green, canvas->red);
    switch (size) {
    case 2:
        return StoreSpans<kSpans2>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 3:
        return StoreSpans<kSpans3>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 4:
        return StoreSpans<kSpans4>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 5:
        return StoreSpans<kSpans5>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 6:
        return StoreSpans<kSpans6>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 7:
        return StoreSpans<kSpans7>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 8:
        return StoreSpans<kSpans8>(centre, stride, above, rowsInside, sinkCentre, bytes);
    case 9:
        return StoreSpans<kSpans9>(centre, stride, above, rowsInside, sinkCentre, bytes);
    default:
        return;
    }
}
