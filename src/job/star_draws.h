// One star as the generator chooses it: four draws, in the order column, row, size, colour.
#pragma once

#include "bmp/bmp_image.h"
#include "render/star_unrolled.h"

#include <cstdint>

inline constexpr int32_t kStarSizeChoices = 8; // sizes 2 to 9
inline constexpr int32_t kStarColourChoices = 4;

struct StarColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// Half the choices are white.
inline constexpr StarColour kStarColours[kStarColourChoices] = {
    {255, 255, 255}, {255, 255, 200}, {200, 220, 255}, {255, 255, 255}};

struct Star {
    int32_t x;
    int32_t y;
    int32_t size;
    StarColour colour;
};

// The image's width and row count as divisors that need no division: division takes dozens of
// cycles, and the draws are much of a dense job. Exact for every non-negative 32-bit draw.
struct StarDivisors {
    int32_t width;
    int32_t rows;
    uint64_t widthFactor;
    uint64_t rowsFactor;
};

// ceil(2^64 / divisor): 2^64 - 1 divided, plus one (0 for 1, whose remainders are 0 anyway).
inline uint64_t FactorFor(int32_t divisor) {
    return UINT64_MAX / static_cast<uint64_t>(divisor) + 1;
}

inline StarDivisors MakeStarDivisors(const BmpImage* image) {
    return {image->width, image->rows, FactorFor(image->width), FactorFor(image->rows)};
}

// value % divisor for value >= 0 and divisor > 0, given the divisor's factor. The fraction
// value / divisor, held in 64 bits as factor * value, times the divisor: its upper 64 bits are the
// remainder (exact for 32-bit values and divisors). The product is formed from two 32 x 32-bit
// products, so it needs no 128-bit type.
inline uint32_t RemainderByFactor(uint32_t value, uint32_t divisor, uint64_t factor) {
    const uint64_t fraction = factor * value;
    const uint64_t high = (fraction >> 32) * divisor;
    const uint64_t low = (fraction & 0xFFFFFFFFu) * divisor;
    return static_cast<uint32_t>((high + (low >> 32)) >> 32);
}

// value % divisor, also for a negative value from a substitute generator.
inline int32_t RemainderOfDraw(int32_t value, int32_t divisor, uint64_t factor) {
    if (value < 0) {
        return value % divisor;
    }
    return static_cast<int32_t>(
        RemainderByFactor(static_cast<uint32_t>(value), static_cast<uint32_t>(divisor), factor));
}

inline constexpr int32_t kDrawsPerStar = 4;

// The star of four draws, given in the order they were taken. Inline, so that the star is put
// together where it is used: returned from a call, its fields written one by one would be read back
// as whole words, which must wait until every write before them has reached the cache.
inline Star StarFromDraws(const int32_t* draws, const StarDivisors* divisors) {
    Star star;
    star.x = RemainderOfDraw(draws[0], divisors->width, divisors->widthFactor);
    star.y = RemainderOfDraw(draws[1], divisors->rows, divisors->rowsFactor);
    star.size = draws[2] % kStarSizeChoices + kStarSmallestSize;
    // A negative draw from a substitute generator gets white.
    const int32_t colour = draws[3] % kStarColourChoices;
    star.colour = kStarColours[colour < 0 ? 0 : colour];
    return star;
}
