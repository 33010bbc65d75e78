#include "render/stars.h"
#include "star_shapes.h"

#include <gtest/gtest.h>

namespace {

PointSet DrawSmall(int32_t width, int32_t height, int32_t cx, int32_t cy, int32_t size) {
    CanvasProbe probe(width, height);
    const PixelCanvas canvas = probe.Canvas(cx, cy, size);
    DrawSmallStar(&canvas);
    EXPECT_TRUE(probe.OnlyPixelsWritten());
    return probe.Changed();
}

TEST(DrawSmallStar, DistinctPixelCounts) {
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 2).size(), 13u);
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 3).size(), 17u);
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 4).size(), 25u);
}

TEST(DrawSmallStar, SizeTwo) {
    PointSet expected = {{9, 9}, {11, 11}, {9, 11}, {11, 9}};
    for (int32_t i = 8; i <= 12; ++i) {
        expected.insert({i, 10});
        expected.insert({10, i});
    }
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 2), expected);
}

TEST(DrawSmallStar, SizeThreeHasOnlyTheNearDiagonals) {
    PointSet expected = {{9, 9}, {11, 11}, {9, 11}, {11, 9}};
    for (int32_t i = 7; i <= 13; ++i) {
        expected.insert({i, 10});
        expected.insert({10, i});
    }
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 3), expected);
}

TEST(DrawSmallStar, SizeFourReachesTwoAlongTheDiagonals) {
    PointSet expected = {{9, 9}, {11, 11}, {9, 11}, {11, 9}, {8, 8}, {12, 12}, {8, 12}, {12, 8}};
    for (int32_t i = 6; i <= 14; ++i) {
        expected.insert({i, 10});
        expected.insert({10, i});
    }
    EXPECT_EQ(DrawSmall(21, 21, 10, 10, 4), expected);
}

TEST(DrawSmallStar, CornerKeepsOnlyTheQuarterInside) {
    PointSet expected = {{1, 1}, {2, 2}};
    for (int32_t i = 0; i <= 4; ++i) {
        expected.insert({i, 0});
        expected.insert({0, i});
    }
    EXPECT_EQ(DrawSmall(5, 5, 0, 0, 4), expected);
}

} // namespace
