// The unrolled stores must set exactly the pixels the two reference renderers
// set, byte for byte, wherever the star lands: clear of the borders, on or near
// each of them (the reference renderers draw there), and cut by the edges of a
// band of rows whatever side of them its centre lies, with every filler width.
#include "render/star_unrolled.h"
#include "render/stars.h"
#include "star_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

struct SpanCase {
    int32_t size;
    int32_t width; // 20 to 23: pad 0, 1, 2, 3
};

class StarUnrolledTest : public testing::TestWithParam<SpanCase> {};

// Centres on, next to and one star-width from each border, and the middle.
std::vector<int32_t> CentresAcross(int32_t extent, int32_t size) {
    std::set<int32_t> centres;
    for (int32_t offset : {0, 1, 2}) {
        centres.insert(offset);
        centres.insert(extent - 1 - offset);
    }
    for (int32_t offset : {-1, 0, 1}) {
        centres.insert(size + offset);
        centres.insert(extent - 1 - size + offset);
    }
    centres.insert(extent / 2);
    std::vector<int32_t> inside;
    for (int32_t centre : centres) {
        if (centre >= 0 && centre < extent) {
            inside.push_back(centre);
        }
    }
    return inside;
}

TEST_P(StarUnrolledTest, SetsTheSameBytesAsTheReferenceRenderers) {
    const int32_t size = GetParam().size;
    const int32_t width = GetParam().width;
    const int32_t height = 21;
    std::vector<uint8_t> sink(kStarSinkBytes);
    for (int32_t cy : CentresAcross(height, size)) {
        for (int32_t cx : CentresAcross(width, size)) {
            CanvasProbe reference(width, height);
            CanvasProbe unrolled(width, height);
            const PixelCanvas referenceCanvas = reference.Canvas(cx, cy, size, 200, 220, 255);
            const PixelCanvas unrolledCanvas = unrolled.Canvas(cx, cy, size, 200, 220, 255);
            DrawReferenceStar(&referenceCanvas);
            DrawUnrolledStar(&unrolledCanvas, sink.data());
            ASSERT_EQ(unrolled.storage, reference.storage)
                << "size " << size << " at (" << cx << ", " << cy << ") pad " << unrolled.pad;
            ASSERT_EQ(unrolled.Changed(), Placed(StarOffsets(size), cx, cy, width, height));
            ASSERT_TRUE(unrolled.OnlyPixelsWritten());
        }
    }
}

// A band of rows `top` to `bottom` of the star's box: the centre lies in the
// band, above it or below it. The band's rows are the renderers'; the others
// go to the sink and leave the image be.
TEST_P(StarUnrolledTest, BandCutsSetTheSameBytesAsTheReferenceRenderers) {
    const int32_t size = GetParam().size;
    const int32_t width = GetParam().width;
    const int32_t cx = width / 2;
    std::vector<uint8_t> sink(kStarSinkBytes);
    for (int32_t top = 0; top <= 2 * size; ++top) {
        for (int32_t bottom = top; bottom <= 2 * size; ++bottom) {
            CanvasProbe reference(width, 2 * size + 1);
            CanvasProbe unrolled(width, 2 * size + 1);
            const PixelCanvas canvas = reference.Canvas(cx, size, size, 200, 220, 255);
            DrawReferenceStar(&canvas);
            for (int32_t y = 0; y < reference.height; ++y) {
                if (y < top || y > bottom) {
                    std::fill_n(&reference.storage[CanvasProbe::kGuard + y * reference.stride],
                                width * 3, kBackground);
                }
            }
            PixelCanvas band = unrolled.Canvas(cx, size - top, size, 200, 220, 255);
            band.pixels += top * unrolled.stride;
            band.height = bottom - top + 1;
            DrawUnrolledStar(&band, sink.data());
            ASSERT_EQ(unrolled.storage, reference.storage)
                << "size " << size << " rows " << top << " to " << bottom << " pad "
                << unrolled.pad;
        }
    }
}

std::vector<SpanCase> AllSpanCases() {
    std::vector<SpanCase> cases;
    for (int32_t size = kStarSmallestSize; size <= kStarLargestSize; ++size) {
        for (int32_t width = 20; width <= 23; ++width) {
            cases.push_back({size, width});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(SizesAndPads, StarUnrolledTest, testing::ValuesIn(AllSpanCases()),
                         [](const auto& info) {
                             const int32_t pad = (4 - (info.param.width * 3) % 4) % 4;
                             return "Size" + std::to_string(info.param.size) + "Pad" +
                                    std::to_string(pad);
                         });

} // namespace
