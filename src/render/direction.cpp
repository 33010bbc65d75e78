#include "render/direction.h"

namespace {

// Each constant is the double nearest the decimal written. They are different roundings of the same
// turns and are not interchangeable: the reduction uses one pair, the case split another, the top
// of the second case a third.
constexpr double kReductionBound = 3.14159265;
constexpr double kFullTurn = 6.2831853;
constexpr double kQuarterTurn = 1.5708;
constexpr double kNegativeQuarterTurn = -1.5708;
constexpr double kCaseTwoUpperBound = 3.14159;
constexpr double kOneSixth = 0.16666666666666666;
constexpr double kOneHalf = 0.5;
constexpr double kOne = 1.0;

} // namespace

// Each line is one IEEE operation as grouped here; this file is built without floating-point
// contraction so no multiply and add are fused.
Direction ApproximateDirection(double angle) {
    double a = angle;
    while (a > kReductionBound) {
        a = a - kFullTurn;
    }
    while (a < -kReductionBound) {
        a = a + kFullTurn;
    }

    Direction result;
    if ((0.0 <= a && a < kQuarterTurn) || (a < 0.0 && kNegativeQuarterTurn <= a)) {
        double q = a * a;
        result.c = kOne - q * kOneHalf;
        result.s = a - (q * a) * kOneSixth;
    } else if (kQuarterTurn <= a && a < kCaseTwoUpperBound) {
        double t = a - kQuarterTurn;
        double q = t * t;
        result.c = -(t - (q * t) * kOneSixth);
        result.s = kOne - q * kOneHalf;
    } else {
        // Below the negative quarter turn (and the sliver between 3.14159 and the reduction bound,
        // which no ray angle reaches).
        double t = (-a) - kQuarterTurn;
        double q = t * t;
        result.c = -(t - (q * t) * kOneSixth);
        result.s = -(kOne - q * kOneHalf);
    }
    return result;
}
