#include "job/star_draws.h"

#include "render/star_spans.h"
#include "shell/runtime_services.h"

Star DrawStar(const BmpImage* image) {
    // x, y, size and colour: the draws are taken in exactly this order.
    int32_t draws[kDrawsPerStar];
    ShellRandomDraws(draws, kDrawsPerStar);
    Star star;
    star.x = draws[0] % image->width;
    star.y = draws[1] % image->rows;
    star.size = draws[2] % kStarSizeChoices + kStarSmallestSize;
    star.colour = ColourForIndex(draws[3] % kStarColourChoices);
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
