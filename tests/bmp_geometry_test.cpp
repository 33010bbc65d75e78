#include "bmp/bmp_image.h"

#include <climits>
#include <gtest/gtest.h>

namespace {

struct GeometryCase {
    int32_t width;
    int32_t height;
    int32_t rows;
    int32_t pad;
    int32_t stride;
};

class BmpGeometryTest : public testing::TestWithParam<GeometryCase> {};

TEST_P(BmpGeometryTest, DerivesRowLayout) {
    const GeometryCase& c = GetParam();
    BmpImage geometry{};
    ASSERT_EQ(ComputeBmpGeometry(c.width, c.height, &geometry), kBmpOk);
    EXPECT_EQ(geometry.rows, c.rows);
    EXPECT_EQ(geometry.pad, c.pad);
    EXPECT_EQ(geometry.stride, c.stride);
    EXPECT_EQ(geometry.pixelBytes, c.rows * c.stride);
}

INSTANTIATE_TEST_SUITE_P(WidthsOneToNine, BmpGeometryTest,
                         testing::Values(GeometryCase{1, 2, 2, 1, 4}, GeometryCase{2, 2, 2, 2, 8},
                                         GeometryCase{3, 2, 2, 3, 12}, GeometryCase{4, 2, 2, 0, 12},
                                         GeometryCase{5, 2, 2, 1, 16}, GeometryCase{6, 2, 2, 2, 20},
                                         GeometryCase{7, 2, 2, 3, 24}, GeometryCase{8, 2, 2, 0, 24},
                                         GeometryCase{9, 2, 2, 1, 28}));

INSTANTIATE_TEST_SUITE_P(TopDownRowsAreTheMagnitude, BmpGeometryTest,
                         testing::Values(GeometryCase{3, -7, 7, 3, 12},
                                         GeometryCase{1, -1, 1, 1, 4},
                                         GeometryCase{2, -5, 5, 2, 8}));

struct RefusedCase {
    int32_t width;
    int32_t height;
    BmpStatus status;
};

class BmpGeometryRefusalTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(BmpGeometryRefusalTest, RefusesSizesThatCannotBeHeld) {
    BmpImage geometry{};
    EXPECT_EQ(ComputeBmpGeometry(GetParam().width, GetParam().height, &geometry),
              GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    HostileDimensions, BmpGeometryRefusalTest,
    testing::Values(
        RefusedCase{0, 10, kBmpBadWidth}, RefusedCase{-1, 10, kBmpBadWidth},
        RefusedCase{INT32_MIN, 10, kBmpBadWidth}, RefusedCase{10, 0, kBmpNoRows},
        RefusedCase{10, INT32_MIN, kBmpHeightOutOfRange}, RefusedCase{INT32_MAX, 1, kBmpTooLarge},
        // 3 x 715827882 = 2147483646 fits one row, but the pad takes it past.
        RefusedCase{715827882, 1, kBmpTooLarge}, RefusedCase{0x40000000, 1, kBmpTooLarge},
        RefusedCase{1, INT32_MAX, kBmpTooLarge}, RefusedCase{1, -INT32_MAX, kBmpTooLarge},
        RefusedCase{46341, 46341, kBmpTooLarge},
        // Rows times stride passes even 64 bits here; refused all the same.
        RefusedCase{INT32_MAX, INT32_MAX, kBmpTooLarge},
        RefusedCase{2147483646, 1610612735, kBmpTooLarge},
        RefusedCase{2147483646, -2147483646, kBmpTooLarge}));

TEST(BmpGeometry, LargestHoldableImageIsAccepted) {
    BmpImage geometry{};
    // One row of 178956970 pixels is 536870910 bytes plus 2 of pad.
    ASSERT_EQ(ComputeBmpGeometry(178956970, 3, &geometry), kBmpOk);
    EXPECT_EQ(geometry.pad, 2);
    EXPECT_EQ(geometry.pixelBytes, 3 * 536870912);
    EXPECT_EQ(ComputeBmpGeometry(178956970, 4, &geometry), kBmpTooLarge);
}

struct GapCase {
    uint32_t offset;
    int32_t gap;
};

class GapLengthTest : public testing::TestWithParam<GapCase> {};

TEST_P(GapLengthTest, IsOffsetLessHeadersAsSigned) {
    EXPECT_EQ(GapLengthFromOffset(GetParam().offset), GetParam().gap);
}

INSTANTIATE_TEST_SUITE_P(Offsets, GapLengthTest,
                         testing::Values(GapCase{54, 0}, GapCase{138, 84}, GapCase{55, 1},
                                         GapCase{53, -1}, GapCase{0, -54},
                                         GapCase{0x7FFFFFFFu, 0x7FFFFFFF - 54},
                                         GapCase{0xFFFFFFFFu, -55},
                                         GapCase{0x80000035u, INT32_MAX}));

TEST(DisplayedRowCount, ShowsTheMagnitudeAndWrapsOnlyTheOneUnrepresentableHeight) {
    EXPECT_EQ(DisplayedRowCount(5), 5);
    EXPECT_EQ(DisplayedRowCount(-5), 5);
    EXPECT_EQ(DisplayedRowCount(-INT32_MAX), INT32_MAX);
    EXPECT_EQ(DisplayedRowCount(INT32_MIN), INT32_MIN);
}

} // namespace
