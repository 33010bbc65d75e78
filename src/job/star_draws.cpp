#include "job/star_draws.h"

#include "render/star_spans.h"
#include "shell/runtime_services.h"

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

} // namespace

StarDivisors MakeStarDivisors(const BmpImage* image) {
    return {image->width, image->rows, FactorFor(image->width), FactorFor(image->rows)};
}
