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

struct BorderCase {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t cx; // negative: counted back from width (-1 is the last column)
    int32_t cy; // likewise from height
};

class SmallStarBorderTest : public testing::TestWithParam<BorderCase> {};

TEST_P(SmallStarBorderTest, DropsExactlyThePointsOutside) {
    const BorderCase& c = GetParam();
    const int32_t cx = c.cx < 0 ? c.width + c.cx : c.cx;
    const int32_t cy = c.cy < 0 ? c.height + c.cy : c.cy;
    for (int32_t size = 2; size <= 4; ++size) {
        EXPECT_EQ(DrawSmall(c.width, c.height, cx, cy, size),
                  Placed(SmallStarOffsets(size), cx, cy, c.width, c.height))
            << "size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Centres, SmallStarBorderTest,
    testing::Values(BorderCase{"LastColumn", 13, 13, -1, 6}, BorderCase{"LastRow", 13, 13, 6, -1},
                    BorderCase{"FirstRow", 13, 13, 6, 0}, BorderCase{"FirstColumn", 13, 13, 0, 6},
                    BorderCase{"OnePixel", 1, 1, 0, 0}, BorderCase{"WidthOne", 1, 9, 0, 4},
                    BorderCase{"HeightOne", 9, 1, 4, 0}, BorderCase{"OddPad", 5, 3, -2, 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
