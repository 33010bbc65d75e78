#include "job/star_draws.h"
#include "made_image.h"
#include "render/star_bands.h"
#include "render/stars.h"
#include "test_shell.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Which draws the stars get. Each case's draws are fixed, so a failure repeats.
enum class Draws {
    kAnywhere, // any non-negative value
    kEdges,    // centres on band edges and image borders, neighbours in other colours
    kStraddle, // every star across a band edge: more than the bands' pool takes at once
    kNegative, // some values negative, as only a substitute generator gives
};

struct BandedCase {
    const char* name;
    int32_t width; // widths 4 to 7 (mod 4) give pads 0, 3, 2, 1
    int32_t height;
    int32_t stars;
    Draws draws;
    bool failAllocation = false;
};

uint32_t NextValue(uint32_t* state) {
    *state = *state * 1103515245u + 12345u;
    return *state >> 1;
}

std::vector<int32_t> MakeDraws(const BandedCase& banded) {
    std::vector<int32_t> draws;
    uint32_t state = static_cast<uint32_t>(banded.width * 7919 + banded.height);
    const int32_t band = kStarBandRows;
    const int32_t edgeRows[] = {0,
                                1,
                                band - 1,
                                band,
                                band + 1,
                                2 * band - 1,
                                2 * band,
                                banded.height - 1,
                                banded.height - 2};
    const int32_t edgeColumns[] = {0, 1, banded.width / 2, banded.width - 2, banded.width - 1};
    for (int32_t star = 0; star < banded.stars; ++star) {
        int32_t values[4];
        for (int32_t& value : values) {
            value = static_cast<int32_t>(NextValue(&state));
        }
        if (banded.draws == Draws::kEdges) {
            values[0] = edgeColumns[values[0] % 5];
            values[1] = edgeRows[values[1] % 9];
            values[3] = star % 3; // white, pale yellow, pale blue in turn
        } else if (banded.draws == Draws::kStraddle) {
            values[1] = band - 2 + values[1] % 4;
        } else if (banded.draws == Draws::kNegative && star % 3 == 0) {
            values[star % 4] = -values[star % 4];
        }
        draws.insert(draws.end(), values, values + 4);
    }
    return draws;
}

// Pixel rows with filler, all in a pattern, so that any byte written that
// should not be shows.
struct PatternRows {
    explicit PatternRows(const BandedCase& banded)
        : width(banded.width), height(banded.height), stride((banded.width * 3 + 3) / 4 * 4) {
        bytes.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i * 37 + 11);
        }
    }
    int32_t width;
    int32_t height;
    int32_t stride;
    std::vector<uint8_t> bytes;
};

// What the stars of `draws` make of the rows drawn one by one, in memory, by
// the reference renderers.
void DrawByReference(PatternRows* rows, const std::vector<int32_t>& draws) {
    BmpImage image{};
    image.width = rows->width;
    image.rows = rows->height;
    const StarDivisors divisors = MakeStarDivisors(&image);
    for (size_t at = 0; at + kDrawsPerStar <= draws.size(); at += kDrawsPerStar) {
        const Star star = StarFromDraws(&draws[at], &divisors);
        const PixelCanvas canvas = {rows->bytes.data(),
                                    rows->width,
                                    rows->height,
                                    rows->stride - rows->width * 3,
                                    star.x,
                                    star.y,
                                    star.size,
                                    star.colour.red,
                                    star.colour.green,
                                    star.colour.blue};
        DrawReferenceStar(&canvas);
    }
}

struct DrawingCase {
    BandedCase banded;
    StarDrawing drawing;
};

void PrintTo(const DrawingCase& drawing, std::ostream* out) {
    *out << drawing.banded.name << (drawing.drawing == kStarsInBands ? " in bands" : " as runs");
}

class MakeImageTest : public testing::TestWithParam<DrawingCase> {};

TEST_P(MakeImageTest, WritesWhatDrawingOneByOneInMemoryWrites) {
    const BandedCase& banded = GetParam().banded;
    const std::vector<int32_t> draws = MakeDraws(banded);
    PatternRows expected(banded);
    DrawByReference(&expected, draws);

    TestShell().draws = draws;
    // The first block is the bands' pool; the draws are on the stack.
    TestShell().failAllocationAt = banded.failAllocation ? 0 : -1;
    PatternRows actual(banded);
    ASSERT_EQ(MakeStarRows(actual.bytes.data(), banded.width, banded.height, banded.stars,
                           GetParam().drawing),
              kBmpOk);
    EXPECT_EQ(TestShell().drawsTaken, 4 * static_cast<size_t>(banded.stars));
    EXPECT_TRUE(actual.bytes == expected.bytes);
    EXPECT_EQ(TestShell().releases, TestShell().allocations);
}

std::vector<DrawingCase> BothDrawings(const std::vector<BandedCase>& cases) {
    std::vector<DrawingCase> both;
    for (const BandedCase& banded : cases) {
        // Runs are a dozen writes a star: for the smaller counts only.
        if (banded.stars <= 5000) {
            both.push_back({banded, kStarsAsRuns});
        }
        both.push_back({banded, kStarsInBands});
    }
    return both;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeImageTest,
    testing::ValuesIn(
        BothDrawings({BandedCase{"PadZeroShorterThanABand", 100, 20, 3000, Draws::kAnywhere},
                      BandedCase{"PadThreeOneWholeBand", 101, 64, 3000, Draws::kAnywhere},
                      BandedCase{"PadTwoRaggedLastBand", 102, 150, 5000, Draws::kAnywhere},
                      BandedCase{"PadOneManyBands", 103, 300, 5000, Draws::kAnywhere},
                      BandedCase{"NarrowestPads", 5, 70, 800, Draws::kAnywhere},
                      BandedCase{"Width6", 6, 33, 800, Draws::kAnywhere},
                      BandedCase{"Width7", 7, 129, 800, Draws::kAnywhere},
                      BandedCase{"Width4", 4, 200, 800, Draws::kEdges},
                      BandedCase{"EdgesOfBands", 60, 130, 4000, Draws::kEdges},
                      BandedCase{"RowsAPageApartDrawnInScratch", 1365, 100, 20000, Draws::kEdges},
                      BandedCase{"EdgesOfBandsRaggedLast", 61, 200, 4000, Draws::kEdges},
                      BandedCase{"PoolFullAcrossBandEdges", 30, 200, 20000, Draws::kStraddle},
                      BandedCase{"OnePixel", 1, 1, 300, Draws::kAnywhere},
                      BandedCase{"NoStars", 10, 10, 0, Draws::kAnywhere},
                      BandedCase{"OneStar", 10, 10, 1, Draws::kAnywhere},
                      BandedCase{"ManyStars", 300, 300, 200000, Draws::kAnywhere},
                      BandedCase{"NegativeDraws", 50, 70, 3000, Draws::kNegative},
                      BandedCase{"NegativeDrawsManyBands", 51, 140, 3000, Draws::kNegative},
                      BandedCase{"NoMemoryForTheBands", 101, 90, 3000, Draws::kEdges, true},
                      BandedCase{"NoMemoryNegativeDraws", 40, 50, 3000, Draws::kNegative, true}})),
    [](const testing::TestParamInfo<DrawingCase>& info) {
        return std::string(info.param.banded.name) +
               (info.param.drawing == kStarsInBands ? "InBands" : "AsRuns");
    });

TEST(StarBands, LayoutHoldsTheStarsOrIsRefused) {
    const int32_t rowCounts[] = {1, 63, 64, 65, 4096, INT32_MAX};
    const int32_t starCounts[] = {1, 1000, 1 << 20, INT32_MAX};
    for (const int32_t rows : rowCounts) {
        for (const int32_t stars : starCounts) {
            const StarBandsLayout layout = PlanStarBands(rows, 300, stars);
            if (layout.bytes == 0) {
                EXPECT_TRUE(sizeof(size_t) < 8 || stars == INT32_MAX)
                    << rows << " rows, " << stars << " stars";
                continue;
            }
            EXPECT_EQ(layout.bandCount, (int64_t{rows} + 63) / 64);
            EXPECT_GE(int64_t{layout.blockCount} * kStarBandBlockEntries, stars);
            EXPECT_GE(layout.touchedOffset, size_t{8} * static_cast<size_t>(layout.bandCount));
            EXPECT_EQ(layout.bytes - layout.blocksOffset,
                      static_cast<size_t>(layout.blockCount) * sizeof(StarBandBlock));
        }
    }
    // Rows 4 KiB apart are drawn in scratch rows a cache line further apart;
    // rows well off a multiple of 4 KiB, or too long to copy, in place.
    const StarBandsLayout paged = PlanStarBands(4096, 12288, 1000);
    EXPECT_EQ(paged.scratchStride, 12288u + 64u);
    EXPECT_EQ(paged.bytes - paged.scratchOffset, kStarBandRows * paged.scratchStride);
    EXPECT_EQ(PlanStarBands(4096, 12288 + 640, 1000).scratchStride, 0u);
    EXPECT_EQ(PlanStarBands(4096, 1 << 20, 1000).scratchStride, 0u);
    EXPECT_EQ(PlanStarBands(0, 300, 10).bytes, 0u);
    EXPECT_EQ(PlanStarBands(100, 300, 0).bytes, 0u);
}

TEST(StarBands, RemaindersWithoutDivisionAreExact) {
    uint32_t state = 5;
    std::vector<int32_t> divisors = {1, 2, 3, 7, 4095, 4096, 65537, INT32_MAX - 1, INT32_MAX};
    for (int32_t i = 0; i < 200; ++i) {
        divisors.push_back(static_cast<int32_t>(NextValue(&state) >> (i % 31)) + 1);
    }
    for (const int32_t divisor : divisors) {
        BmpImage image{};
        image.width = divisor;
        image.rows = divisor;
        const uint64_t factor = MakeStarDivisors(&image).widthFactor;
        std::vector<int32_t> values = {0, 1, divisor - 1, INT32_MAX, INT32_MAX - 1};
        if (divisor < INT32_MAX) {
            values.push_back(divisor);
            values.push_back(divisor + 1);
        }
        for (int32_t i = 0; i < 100; ++i) {
            values.push_back(static_cast<int32_t>(NextValue(&state)));
        }
        for (const int32_t value : values) {
            ASSERT_EQ(RemainderByFactor(static_cast<uint32_t>(value),
                                        static_cast<uint32_t>(divisor), factor),
                      static_cast<uint32_t>(value % divisor))
                << value << " % " << divisor;
        }
    }
}

} // namespace
