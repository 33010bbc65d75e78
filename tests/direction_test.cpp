#include "render/direction.h"

#include <gtest/gtest.h>

namespace {

constexpr double kRayStep = 1.25663706;
constexpr double kStartOffset = 1.570796325;

TEST(ApproximateDirection, ZeroIsExactlyTheUnitX) {
    const Direction d = ApproximateDirection(0.0);
    EXPECT_EQ(d.c, 1.0);
    EXPECT_EQ(d.s, 0.0);
}

TEST(ApproximateDirection, JustBelowTheQuarterTurnStaysInTheFirstCase) {
    const double a = 1.570796325;
    const Direction d = ApproximateDirection(a);
    // First-case polynomials, not the shifted second case (which would give c = -0.000...).
    EXPECT_EQ(d.c, 1.0 - (a * a) * 0.5);
    EXPECT_EQ(d.s, a - ((a * a) * a) * 0.16666666666666666);
    EXPECT_LT(d.c, 0.0);
    EXPECT_LT(d.s, 1.0);
}

TEST(ApproximateDirection, NegativeQuarterTurnMirrorsIt) {
    const Direction up = ApproximateDirection(1.570796325);
    const Direction down = ApproximateDirection(-1.570796325);
    EXPECT_EQ(down.c, up.c);
    EXPECT_EQ(down.s, -up.s);
}

TEST(ApproximateDirection, LargeAngleIsReducedOnceThenTakesTheFourthCase) {
    const double a = 4.0 * kRayStep - kStartOffset;
    ASSERT_GT(a, 3.14159265);
    const double reduced = a - 6.2831853;
    ASSERT_LT(reduced, -1.5708);
    const double t = (-reduced) - 1.5708;
    const double q = t * t;
    const Direction d = ApproximateDirection(a);
    EXPECT_EQ(d.c, -(t - (q * t) * 0.16666666666666666));
    EXPECT_EQ(d.s, -(1.0 - q * 0.5));
}

TEST(ApproximateDirection, SecondAndFourthCasesAreMirrorImages) {
    const double a = 3.0 * kRayStep - kStartOffset;
    ASSERT_GE(a, 1.5708);
    ASSERT_LT(a, 3.14159);
    const Direction second = ApproximateDirection(a);
    const Direction fourth = ApproximateDirection(-a);
    const double t = a - 1.5708;
    EXPECT_EQ(second.c, -(t - ((t * t) * t) * 0.16666666666666666));
    EXPECT_EQ(second.s, 1.0 - (t * t) * 0.5);
    EXPECT_EQ(fourth.c, second.c);
    EXPECT_EQ(fourth.s, -second.s);
}

TEST(ApproximateDirection, ReductionUsesItsOwnConstantsNotPi) {
    // 3.1415927 is above the reduction bound 3.14159265 although it is below pi
    // rounded to 8 places; it is reduced by 6.2831853 into the fourth case.
    const double a = 3.1415927;
    const double reduced = a - 6.2831853;
    const double t = (-reduced) - 1.5708;
    const Direction d = ApproximateDirection(a);
    EXPECT_EQ(d.s, -(1.0 - (t * t) * 0.5));
    // Reduction from below, more than one turn away.
    const Direction wrapped = ApproximateDirection(-3.0 * 6.2831853 + 0.5);
    const Direction direct =
        ApproximateDirection((-3.0 * 6.2831853 + 0.5) + 6.2831853 + 6.2831853 + 6.2831853);
    EXPECT_EQ(wrapped.c, direct.c);
    EXPECT_EQ(wrapped.s, direct.s);
}

} // namespace
