// Pixel rows held whole in memory, as the benchmarks' baselines draw on them.
#pragma once

#include <cstdint>

struct MemoryImage {
    uint8_t* pixels; // rows x stride bytes, the rows as stored in the file
    int32_t width;
    int32_t rows;
    int32_t pad;
    int32_t stride;
    int32_t pixelBytes;
};
