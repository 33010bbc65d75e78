#include "canvas_probe.h"

#include <gtest/gtest.h>

namespace {

TEST(PlotPixel, StoresBlueGreenRed) {
    CanvasProbe probe(3, 2);
    const PixelCanvas canvas = probe.Canvas(0, 0, 2, 10, 20, 30);
    PlotPixel(&canvas, 2, 1);
    EXPECT_EQ(probe.Changed(), (PointSet{{2, 1}}));
    EXPECT_EQ(probe.Pixel(2, 1)[0], 30);
    EXPECT_EQ(probe.Pixel(2, 1)[1], 20);
    EXPECT_EQ(probe.Pixel(2, 1)[2], 10);
    EXPECT_TRUE(probe.OnlyPixelsWritten());
}

struct OutsideCase {
    int32_t x;
    int32_t y;
};

class PlotPixelOutsideTest : public testing::TestWithParam<OutsideCase> {};

TEST_P(PlotPixelOutsideTest, DropsThePoint) {
    for (int32_t width : {1, 2, 3, 4, 5}) {
        CanvasProbe probe(width, 3);
        const PixelCanvas canvas = probe.Canvas(0, 0, 2);
        const int32_t x = GetParam().x == 99 ? width : GetParam().x;
        PlotPixel(&canvas, x, GetParam().y);
        EXPECT_TRUE(probe.Changed().empty()) << "width " << width;
        EXPECT_TRUE(probe.OnlyPixelsWritten()) << "width " << width;
    }
}

// 99 stands for column == width.
INSTANTIATE_TEST_SUITE_P(Borders, PlotPixelOutsideTest,
                         testing::Values(OutsideCase{-1, 0}, OutsideCase{0, -1}, OutsideCase{99, 0},
                                         OutsideCase{99, 2}, OutsideCase{0, 3}, OutsideCase{-1, -1},
                                         OutsideCase{INT32_MIN, 0}, OutsideCase{0, INT32_MAX},
                                         OutsideCase{INT32_MAX, INT32_MAX}));

TEST(PlotPixel, WidthOneLeavesEveryRowsFillerByte) {
    CanvasProbe probe(1, 4);
    ASSERT_EQ(probe.pad, 1);
    for (int32_t y = -1; y <= 4; ++y) {
        for (int32_t x = -1; x <= 1; ++x) {
            const PixelCanvas canvas = probe.Canvas(0, 0, 2);
            PlotPixel(&canvas, x, y);
        }
    }
    EXPECT_EQ(probe.Changed(), (PointSet{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
    EXPECT_TRUE(probe.OnlyPixelsWritten());
}

} // namespace
