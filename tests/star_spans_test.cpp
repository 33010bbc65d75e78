// The span renderer and the unrolled stores the placement uses must set exactly
// the pixels the two reference renderers set, byte for byte, wherever the star
// lands: clear of the borders (no clipping) and on or near each of them
// (clipped), with every filler width.
#include "render/star_spans.h"
#include "render/star_unrolled.h"
#include "render/stars.h"
#include "star_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

TEST(StarShapes, EverySizeFitsAndReachesItsSize) {
    StarShapes shapes;
    BuildStarShapes(&shapes);
    for (int32_t size = kStarSmallestSize; size <= kStarLargestSize; ++size) {
        const StarShape& shape = shapes.bySize[size - kStarSmallestSize];
        EXPECT_LE(shape.spanCount, kStarMaxSpans);
        EXPECT_EQ(shape.reach, size) << "size " << size;
        PointSet points;
        for (int32_t i = 0; i < shape.spanCount; ++i) {
            const StarSpan& span = shape.spans[i];
            ASSERT_LE(span.first, span.last);
            for (int32_t x = span.first; x <= span.last; ++x) {
                EXPECT_TRUE(points.insert({x, span.row}).second) << "spans overlap";
            }
        }
        EXPECT_EQ(points, StarOffsets(size)) << "size " << size;
    }
}

struct SpanCase {
    int32_t size;
    int32_t width; // 20 to 23: pad 0, 1, 2, 3
};

class StarSpansTest : public testing::TestWithParam<SpanCase> {};

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

TEST_P(StarSpansTest, SetsTheSameBytesAsTheReferenceRenderers) {
    const int32_t size = GetParam().size;
    const int32_t width = GetParam().width;
    const int32_t height = 21;
    StarShapes shapes;
    BuildStarShapes(&shapes);
    const StarShape* shape = &shapes.bySize[size - kStarSmallestSize];
    for (int32_t cy : CentresAcross(height, size)) {
        for (int32_t cx : CentresAcross(width, size)) {
            CanvasProbe reference(width, height);
            CanvasProbe fast(width, height);
            const PixelCanvas referenceCanvas = reference.Canvas(cx, cy, size, 200, 220, 255);
            const PixelCanvas fastCanvas = fast.Canvas(cx, cy, size, 200, 220, 255);
            DrawReferenceStar(&referenceCanvas);
            DrawStarShape(&fastCanvas, shape);
            ASSERT_EQ(fast.storage, reference.storage)
                << "size " << size << " at (" << cx << ", " << cy << ") pad " << fast.pad;
            ASSERT_EQ(fast.Changed(), Placed(StarOffsets(size), cx, cy, width, height));
            ASSERT_TRUE(fast.OnlyPixelsWritten());
        }
    }
}

// Every cut of the star's rows a band edge can make: the rows from -above to
// below are the renderers', the others go to the sink and leave the image be.
TEST_P(StarSpansTest, UnrolledStoresSetTheSameBytesAsTheReferenceRenderers) {
    const int32_t size = GetParam().size;
    const int32_t width = GetParam().width;
    const int32_t cx = width / 2;
    const int32_t cy = size;
    for (int32_t above = 0; above <= size; ++above) {
        for (int32_t below = 0; below <= size; ++below) {
            CanvasProbe reference(width, 2 * size + 1);
            CanvasProbe unrolled(width, 2 * size + 1);
            const PixelCanvas canvas = reference.Canvas(cx, cy, size, 200, 220, 255);
            DrawReferenceStar(&canvas);
            for (int32_t y = 0; y < reference.height; ++y) {
                if (y < cy - above || y > cy + below) {
                    std::fill_n(&reference.storage[CanvasProbe::kGuard + y * reference.stride],
                                width * 3, kBackground);
                }
            }
            std::vector<uint8_t> sink(kStarSinkBytes);
            const uint8_t* centre = unrolled.Pixel(cx, cy);
            DrawUnrolledStar(reinterpret_cast<uintptr_t>(centre),
                             static_cast<size_t>(unrolled.stride), size, above, below, sink.data(),
                             255, 220, 200);
            ASSERT_EQ(unrolled.storage, reference.storage)
                << "size " << size << " rows -" << above << " to " << below << " pad "
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

INSTANTIATE_TEST_SUITE_P(SizesAndPads, StarSpansTest, testing::ValuesIn(AllSpanCases()),
                         [](const auto& info) {
                             const int32_t pad = (4 - (info.param.width * 3) % 4) % 4;
                             return "Size" + std::to_string(info.param.size) + "Pad" +
                                    std::to_string(pad);
                         });

// A star larger than the image on every side: every row and column clipped.
TEST(StarSpans, TinyImagesClipOnAllSides) {
    StarShapes shapes;
    BuildStarShapes(&shapes);
    for (int32_t size = kStarSmallestSize; size <= kStarLargestSize; ++size) {
        for (int32_t side = 1; side <= 4; ++side) {
            for (int32_t c = 0; c < side; ++c) {
                CanvasProbe reference(side, side);
                CanvasProbe fast(side, side);
                const PixelCanvas referenceCanvas = reference.Canvas(c, side - 1 - c, size);
                const PixelCanvas fastCanvas = fast.Canvas(c, side - 1 - c, size);
                DrawReferenceStar(&referenceCanvas);
                DrawStarShape(&fastCanvas, &shapes.bySize[size - kStarSmallestSize]);
                ASSERT_EQ(fast.storage, reference.storage) << "size " << size << " side " << side;
            }
        }
    }
}

} // namespace
