// Stars at and near every border: exactly the points that fall inside are
// drawn, and nothing lands in filler bytes or outside the array.
#include "render/stars.h"
#include "star_shapes.h"

#include <gtest/gtest.h>

namespace {

struct BorderCase {
    const char* name;
    int32_t width;
    int32_t height;
    int32_t cx; // negative: counted back from the far edge (-1 is the last column)
    int32_t cy; // likewise for rows
};

class StarBorderTest : public testing::TestWithParam<BorderCase> {};

TEST_P(StarBorderTest, DropsExactlyThePointsOutside) {
    const BorderCase& c = GetParam();
    const int32_t cx = c.cx < 0 ? c.width + c.cx : c.cx;
    const int32_t cy = c.cy < 0 ? c.height + c.cy : c.cy;
    for (int32_t size = 2; size <= 9; ++size) {
        CanvasProbe probe(c.width, c.height);
        const PixelCanvas canvas = probe.Canvas(cx, cy, size);
        if (size > 4) {
            DrawLargeStar(&canvas);
        } else {
            DrawSmallStar(&canvas);
        }
        EXPECT_EQ(probe.Changed(), Placed(StarOffsets(size), cx, cy, c.width, c.height))
            << "size " << size;
        EXPECT_TRUE(probe.OnlyPixelsWritten()) << "size " << size;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Centres, StarBorderTest,
    testing::Values(BorderCase{"FirstRow", 25, 25, 12, 0}, BorderCase{"SecondRow", 25, 25, 12, 1},
                    BorderCase{"LastRow", 25, 25, 12, -1}, BorderCase{"FirstColumn", 25, 25, 0, 12},
                    BorderCase{"LastColumn", 25, 25, -1, 12},
                    BorderCase{"NextToLastColumn", 26, 25, -2, 12},
                    BorderCase{"Corner", 25, 25, -1, -1}, BorderCase{"Origin", 25, 25, 0, 0},
                    BorderCase{"OnePixel", 1, 1, 0, 0}, BorderCase{"WidthOne", 1, 30, 0, 15},
                    BorderCase{"HeightOne", 30, 1, 15, 0}, BorderCase{"PadThree", 7, 19, -3, 9},
                    BorderCase{"PadTwo", 6, 6, 2, 3}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
