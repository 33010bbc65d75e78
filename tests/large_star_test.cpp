#include "render/direction.h"
#include "render/stars.h"
#include "star_shapes.h"

#include <gtest/gtest.h>

namespace {

PointSet DrawLarge(int32_t width, int32_t height, int32_t cx, int32_t cy, int32_t size) {
    CanvasProbe probe(width, height);
    const PixelCanvas canvas = probe.Canvas(cx, cy, size);
    DrawLargeStar(&canvas);
    EXPECT_TRUE(probe.OnlyPixelsWritten());
    return probe.Changed();
}

PointSet Offsets(const PointSet& points, int32_t cx, int32_t cy) {
    PointSet offsets;
    for (const auto& [x, y] : points) {
        offsets.insert({x - cx, y - cy});
    }
    return offsets;
}

// The ray offsets follow from the direction approximation and truncation. This
// recomputes every entry of the table from the ray angles, the way the star does.
TEST(LargeStarRays, DirectionsReproduceTheOffsetTable) {
    for (int32_t k = 0; k < 5; ++k) {
        const Direction longRay =
            ApproximateDirection(static_cast<double>(k) * 1.25663706 - 1.570796325);
        const Direction shortRay =
            ApproximateDirection((static_cast<double>(k) + 0.5) * 1.25663706 - 1.570796325);
        for (int32_t r = 0; r <= 9; ++r) {
            const double dx = static_cast<double>(r) * longRay.c;
            const double dy = static_cast<double>(r) * longRay.s;
            EXPECT_EQ(Point(static_cast<int32_t>(dx), static_cast<int32_t>(dy)), kLongRays[k][r])
                << "long ray " << k << " radius " << r;
        }
        for (int32_t r = 0; r <= 4; ++r) {
            const double dx = static_cast<double>(r) * shortRay.c;
            const double dy = static_cast<double>(r) * shortRay.s;
            EXPECT_EQ(Point(static_cast<int32_t>(dx), static_cast<int32_t>(dy)), kShortRays[k][r])
                << "short ray " << k << " radius " << r;
        }
    }
}

TEST(DrawLargeStar, DistinctPixelCounts) {
    const size_t expected[] = {52, 72, 81, 105, 114};
    for (int32_t size = 5; size <= 9; ++size) {
        EXPECT_EQ(DrawLarge(31, 31, 15, 15, size).size(), expected[size - 5]) << "size " << size;
    }
}

TEST(DrawLargeStar, MatchesPlusDiamondAndRayTable) {
    for (int32_t size = 5; size <= 9; ++size) {
        EXPECT_EQ(Offsets(DrawLarge(31, 31, 15, 15, size), 15, 15), LargeStarOffsets(size))
            << "size " << size;
    }
}

PointSet OutsidePlusAndDiamond(int32_t size) {
    PointSet outside;
    const PointSet centre = LargeStarCentreOffsets(size);
    for (const Point& p : Offsets(DrawLarge(31, 31, 15, 15, size), 15, 15)) {
        if (centre.count(p) == 0) {
            outside.insert(p);
        }
    }
    return outside;
}

TEST(DrawLargeStar, SizeNineRayTips) {
    EXPECT_EQ(OutsidePlusAndDiamond(9), (PointSet{{-8, -1},
                                                  {-7, -1},
                                                  {-6, -1},
                                                  {-5, 7},
                                                  {-4, 5},
                                                  {-4, 6},
                                                  {-3, 4},
                                                  {-2, -8},
                                                  {-1, -7},
                                                  {-1, -6},
                                                  {3, 4},
                                                  {3, 5},
                                                  {4, 6},
                                                  {5, 7},
                                                  {6, -2},
                                                  {7, -2},
                                                  {8, -2}}));
}

TEST(DrawLargeStar, SizeFiveRayTips) {
    EXPECT_EQ(OutsidePlusAndDiamond(5),
              (PointSet{{-4, -1}, {-2, 3}, {-2, 4}, {-1, -4}, {2, 3}, {2, 4}, {4, -1}}));
}

TEST(DrawLargeStar, TopRayLeans) {
    const PointSet star = Offsets(DrawLarge(31, 31, 15, 15, 9), 15, 15);
    EXPECT_EQ(star.count({-2, -8}), 1u);
    EXPECT_EQ(star.count({0, -9}), 1u); // the plus arm, not the ray
    EXPECT_EQ(star.count({-2, -9}), 0u);
}

TEST(DrawLargeStar, RowZeroKeepsTheLowerHalfOfTheDiamond) {
    const PointSet star = DrawLarge(25, 25, 12, 0, 9);
    for (const auto& [x, y] : star) {
        EXPECT_GE(y, 0);
    }
    for (int32_t dx = -6; dx <= 6; ++dx) {
        EXPECT_EQ(star.count({12 + dx, 0}), 1u); // the diamond's middle row
    }
    EXPECT_EQ(star.count({12, 9}), 1u); // the lower arm of the plus
}

} // namespace
