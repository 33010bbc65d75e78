#include "made_image.h"
#include "star_shapes.h"
#include "test_shell.h"

#include <gtest/gtest.h>

namespace {

// Rows held in a probe, so writes outside the pixels show, made into an image
// with stars as the job makes it.
struct ProbeImage {
    ProbeImage(int32_t width, int32_t height) : probe(width, height) {}
    void Make(int32_t stars) {
        ASSERT_EQ(MakeStarRows(probe.storage.data() + CanvasProbe::kGuard, probe.width,
                               probe.height, stars, kStarsAsRuns),
                  kBmpOk);
    }
    CanvasProbe probe;
};

TEST(PlaceStars, AllZeroDrawsGiveWhiteSizeTwoAtTheOrigin) {
    ProbeImage picture(10, 10);
    TestShell().draws = {0};
    TestShell().repeatDraws = true;
    picture.Make(3);
    EXPECT_EQ(TestShell().drawsTaken, 12u);
    EXPECT_EQ(picture.probe.Changed(), (PointSet{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 2}, {1, 1}}));
    const uint8_t* origin = picture.probe.Pixel(0, 0);
    EXPECT_EQ(origin[0], 255);
    EXPECT_EQ(origin[1], 255);
    EXPECT_EQ(origin[2], 255);
    EXPECT_TRUE(picture.probe.OnlyPixelsWritten());
}

TEST(PlaceStars, RepeatingDrawsGivePaleBlueSizeNine) {
    ProbeImage picture(100, 50);
    TestShell().draws = {7, 11, 7, 2};
    TestShell().repeatDraws = true;
    picture.Make(5);
    EXPECT_EQ(TestShell().drawsTaken, 20u);
    EXPECT_EQ(picture.probe.Changed(), Placed(LargeStarOffsets(9), 7, 11, 100, 50));
    const uint8_t* centre = picture.probe.Pixel(7, 11);
    EXPECT_EQ(centre[0], 255);
    EXPECT_EQ(centre[1], 220);
    EXPECT_EQ(centre[2], 200);
}

TEST(PlaceStars, DrawsAreReducedByTheirOwnDivisors) {
    ProbeImage picture(30, 20);
    // x = 65 mod 30 = 5, y = 47 mod 20 = 7, size = 12 mod 8 + 2 = 6, colour 5 mod 4 = 1.
    TestShell().draws = {65, 47, 12, 5};
    picture.Make(1);
    EXPECT_EQ(picture.probe.Changed(), Placed(LargeStarOffsets(6), 5, 7, 30, 20));
    const uint8_t* centre = picture.probe.Pixel(5, 7);
    EXPECT_EQ(centre[0], 200); // pale yellow: 255, 255, 200 stored reversed
    EXPECT_EQ(centre[1], 255);
    EXPECT_EQ(centre[2], 255);
}

struct ColourCase {
    int32_t draw;
    uint8_t blue;
    uint8_t green;
    uint8_t red;
};

void PrintTo(const ColourCase& colour, std::ostream* out) {
    *out << "draw " << colour.draw;
}

class StarColourTest : public testing::TestWithParam<ColourCase> {};

TEST_P(StarColourTest, FollowsTheFourthDraw) {
    ProbeImage picture(9, 9);
    TestShell().draws = {4, 4, 0, GetParam().draw};
    picture.Make(1);
    const uint8_t* centre = picture.probe.Pixel(4, 4);
    EXPECT_EQ(centre[0], GetParam().blue);
    EXPECT_EQ(centre[1], GetParam().green);
    EXPECT_EQ(centre[2], GetParam().red);
}

INSTANTIATE_TEST_SUITE_P(Indices, StarColourTest,
                         testing::Values(ColourCase{0, 255, 255, 255}, ColourCase{1, 200, 255, 255},
                                         ColourCase{2, 255, 220, 200}, ColourCase{3, 255, 255, 255},
                                         ColourCase{6, 255, 220, 200},
                                         ColourCase{2147483647, 255, 255, 255}));

TEST(PlaceStars, SizeThresholdIsFour) {
    for (int32_t sizeDraw = 0; sizeDraw < 8; ++sizeDraw) {
        ProbeImage picture(31, 31);
        TestShell().draws = {15, 15, sizeDraw, 0};
        TestShell().drawsTaken = 0;
        picture.Make(1);
        EXPECT_EQ(picture.probe.Changed(), Placed(StarOffsets(sizeDraw + 2), 15, 15, 31, 31))
            << "size " << sizeDraw + 2;
    }
}

TEST(PlaceStars, LaterStarWinsOnOnePixel) {
    ProbeImage picture(1, 1);
    TestShell().draws = {0, 0, 7, 1, 0, 0, 3, 2, 0, 0, 0, 0, 5, 9, 4, 1};
    picture.Make(4);
    EXPECT_EQ(picture.probe.Changed(), (PointSet{{0, 0}}));
    const uint8_t* pixel = picture.probe.Pixel(0, 0);
    EXPECT_EQ(pixel[0], 200); // the last star is pale yellow
    EXPECT_EQ(pixel[1], 255);
    EXPECT_EQ(pixel[2], 255);
    EXPECT_TRUE(picture.probe.OnlyPixelsWritten());
}

TEST(PlaceStars, ManyStarsOnOnePixelStayInside) {
    ProbeImage picture(1, 1);
    picture.Make(10000); // real generator
    EXPECT_EQ(TestShell().drawsTaken, 40000u);
    EXPECT_TRUE(picture.probe.OnlyPixelsWritten());
}

} // namespace

namespace {

// The real generator never returns a negative value; a substitute that does
// gets what the renderers draw for such a centre, and nothing breaks.
TEST(PlaceStars, NegativeDrawsFallBackToTheRenderers) {
    ProbeImage picture(20, 20);
    // x = -1, y = 2, size 9 (7 mod 8 + 2), white; then x = 3, y = -9 mod 20 = -9,
    // size -3 mod 8 + 2 = -1 (nothing), pale yellow.
    TestShell().draws = {-1, 2, 7, 0, 3, -9, -3, 1};
    picture.Make(2);
    EXPECT_EQ(picture.probe.Changed(), Placed(LargeStarOffsets(9), -1, 2, 20, 20));
    EXPECT_TRUE(picture.probe.OnlyPixelsWritten());
}

} // namespace
