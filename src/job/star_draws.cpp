#include "job/star_draws.h"

namespace {

// ceil(2^64 / divisor): 2^64 - 1 divided, plus one (0 for 1, whose
// remainders are all 0 either way).
uint64_t FactorFor(int32_t divisor) {
    return UINT64_MAX / static_cast<uint64_t>(divisor) + 1;
}

} // namespace

StarDivisors MakeStarDivisors(const BmpImage* image) {
    return {image->width, image->rows, FactorFor(image->width), FactorFor(image->rows)};
}
