// One star as the generator chooses it: four draws, in the order column, row,
// size, colour. Every way of drawing stars takes its draws through DrawStar so
// that the same seed gives the same stars.
#pragma once

#include "bmp/bmp_image.h"

#include <cstdint>

inline constexpr int32_t kStarSizeChoices = 8; // sizes 2 to 9
inline constexpr int32_t kStarColourChoices = 4;
inline constexpr int32_t kLargestSmallStar = 4; // larger sizes get rays

struct StarColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

inline constexpr StarColour kWhite = {255, 255, 255};
inline constexpr StarColour kPaleYellow = {255, 255, 200};
inline constexpr StarColour kPaleBlue = {200, 220, 255};

// Half the choices are white: index 0 and 3.
StarColour ColourForIndex(int32_t index);

struct Star {
    int32_t x;
    int32_t y;
    int32_t size;
    StarColour colour;
};

// The four draws of one star. image->width and image->rows must be positive.
Star DrawStar(const BmpImage* image);

// The image's width and row count as divisors that need no division: a
// division takes some dozens of cycles, and the draws are a large part of a
// dense job. Remainders are exact for every non-negative 32-bit draw.
struct StarDivisors {
    int32_t width;
    int32_t rows;
    uint64_t widthFactor;
    uint64_t rowsFactor;
};
StarDivisors MakeStarDivisors(const BmpImage* image);

// value % divisor for value >= 0 and divisor > 0, given the divisor's factor.
uint32_t RemainderByFactor(uint32_t value, uint32_t divisor, uint64_t factor);

// The same draws, in the same order, giving the same star as DrawStar.
Star DrawStarDivided(const StarDivisors* divisors);
