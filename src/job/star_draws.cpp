#include "job/star_draws.h"

#include "render/star_spans.h"
#include "shell/runtime_services.h"

StarColour ColourForIndex(int32_t index) {
    switch (index) {
    case 1:
        return kPaleYellow;
    case 2:
        return kPaleBlue;
    default:
        return kWhite;
    }
}

Star DrawStar(const BmpImage* image) {
    // Separate statements: the draws must be taken in exactly this order.
    Star star;
    star.x = ShellRandom() % image->width;
    star.y = ShellRandom() % image->rows;
    star.size = ShellRandom() % kStarSizeChoices + kStarSmallestSize;
    star.colour = ColourForIndex(ShellRandom() % kStarColourChoices);
    return star;
}

namespace {

// ceil(2^64 / divisor): 2^64 - 1 divided, plus one (0 for 1, whose
// remainders are all 0 either way).
uint64_t FactorFor(int32_t divisor) {
    return UINT64_MAX / static_cast<uint64_t>(divisor) + 1;
}

// value % divisor, also for a negative value from a substitute generator.
int32_t Remainder(int32_t value, int32_t divisor, uint64_t factor) {
    if (value < 0) {
        return value % divisor;
    }
    return static_cast<int32_t>(
        RemainderByFactor(static_cast<uint32_t>(value), static_cast<uint32_t>(divisor), factor));
}

} // namespace

StarDivisors MakeStarDivisors(const BmpImage* image) {
    return {image->width, image->rows, FactorFor(image->width), FactorFor(image->rows)};
}

// The fraction value / divisor, held in 64 bits as factor * value, times
// the divisor: its upper 64 bits are the remainder (exact for 32-bit values
// and divisors). The product is formed from two 32 x 32-bit products, so it
// needs no 128-bit type.
uint32_t RemainderByFactor(uint32_t value, uint32_t divisor, uint64_t factor) {
    const uint64_t fraction = factor * value;
    const uint64_t high = (fraction >> 32) * divisor;
    const uint64_t low = (fraction & 0xFFFFFFFFu) * divisor;
    return static_cast<uint32_t>((high + (low >> 32)) >> 32);
}

Star DrawStarDivided(const StarDivisors* divisors) {
    // Separate statements: the draws must be taken in exactly this order.
    Star star;
    star.x = Remainder(ShellRandom(), divisors->width, divisors->widthFactor);
    star.y = Remainder(ShellRandom(), divisors->rows, divisors->rowsFactor);
    star.size = ShellRandom() % kStarSizeChoices + kStarSmallestSize;
    star.colour = ColourForIndex(ShellRandom() % kStarColourChoices);
    return star;
}
