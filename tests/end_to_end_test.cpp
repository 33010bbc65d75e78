// The whole job on real files with chosen draws. The expected picture is
// painted here from the star definitions, independently of the renderers.
#include "bmp_files.h"
#include "job_runner.h"
#include "star_shapes.h"

namespace {

struct Star {
    int32_t x;
    int32_t y;
    int32_t size;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

Bytes Paint(Bytes file, size_t pixelStart, int32_t width, int32_t rows,
            const std::vector<Star>& stars) {
    for (const Star& star : stars) {
        for (const auto& [x, y] : Placed(StarOffsets(star.size), star.x, star.y, width, rows)) {
            PaintPixel(file, pixelStart, width, x, y, star.red, star.green, star.blue);
        }
    }
    return file;
}

TEST(EndToEnd, StarsLandWhereTheDrawsPutThem) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 37; // pad 1
    spec.height = -23;
    spec.pixelDataOffset = 138;
    spec.trailingBytes = 5;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    // Draws for: large pale blue at the first row, small white in the last
    // column, large white overlapping it, small pale yellow at the origin.
    TestShell().draws = {40, 0, 7, 2, 36, 12, 2, 3, 70, 33, 4, 0, 0, 23, 1, 1};

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 4), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(TestShell().drawsTaken, 16u);
    const Bytes expected = Paint(PassThroughOf(spec), 138, 37, 23,
                                 {{3, 0, 9, 200, 220, 255},
                                  {36, 12, 4, 255, 255, 255},
                                  {33, 10, 6, 255, 255, 255},
                                  {0, 0, 3, 255, 255, 200}});
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), expected);
    EXPECT_EQ(TestShell().output, kBanner + SuccessLines(37, 23, 4, scratch / "out.bmp"));
    ExpectNothingHeld();
}

TEST(EndToEnd, EverySizeAtEveryBorder) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 30;
    spec.height = 26;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::vector<Star> stars;
    std::vector<int32_t> draws;
    const int32_t centres[][2] = {{0, 0},  {29, 0},  {0, 25}, {29, 25},
                                  {1, 13}, {28, 12}, {15, 1}, {14, 24}};
    for (int32_t size = 2; size <= 9; ++size) {
        for (const auto& centre : centres) {
            const int32_t colour = (size + centre[0]) % 4;
            draws.insert(draws.end(), {centre[0], centre[1], size - 2, colour});
            const uint8_t red = colour == 2 ? 200 : 255;
            const uint8_t green = colour == 2 ? 220 : 255;
            const uint8_t blue = colour == 1 ? 200 : 255;
            stars.push_back({centre[0], centre[1], size, red, green, blue});
        }
    }
    TestShell().draws = draws;
    ASSERT_EQ(
        RunPelindra(scratch / "in.bmp", scratch / "out.bmp", static_cast<int32_t>(stars.size())),
        PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Paint(PassThroughOf(spec), 54, 30, 26, stars));
}

} // namespace

namespace {

// With a viewed input only touched blocks are written back; a star drawn the
// plain way must still reach the file, and a negative colour draw gives white.
TEST(EndToEnd, StarsFromNegativeDrawsReachTheFile) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 300;
    spec.height = 300;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    TestShell().draws = {-2, 150, 7, 2, 40, 299, 0, 0, 100, 100, 3, -3};
    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 3), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Paint(PassThroughOf(spec), 54, 300, 300,
                                                        {{-2, 150, 9, 200, 220, 255},
                                                         {40, 299, 2, 255, 255, 255},
                                                         {100, 100, 5, 255, 255, 255}}));
}

} // namespace
