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
