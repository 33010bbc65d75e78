// A loaded BMP file: both headers as read, the gap bytes and the pixel rows.
#pragma once

#include "bmp/bmp_layout.h"
#include "bmp/bmp_status.h"

#include <cstdint>

struct BmpImage {
    uint8_t fileHeader[kBmpFileHeaderSize];
    uint8_t infoHeader[kBmpInfoHeaderSize];
    int32_t gapLength;  // pixel data offset - 54, read as signed; <= 0 means no gap
    uint8_t* gapBlock;  // gapLength bytes when gapLength > 0, otherwise null
    uint8_t* pixels;    // pixelBytes bytes: the rows exactly as stored in the file
    int32_t width;      // pixels per row
    int32_t rows;       // |height|
    int32_t pad;        // filler bytes after each row (0 to 3)
    int32_t stride;     // bytes per row including the filler
    int32_t pixelBytes; // rows x stride
};

// Derived sizes of a width x height image. Refuses what cannot be held in
// signed 32-bit sizes or would need a zero-byte pixel array.
struct BmpGeometry {
    int32_t rows;
    int32_t pad;
    int32_t stride;
    int32_t pixelBytes;
};
BmpStatus ComputeBmpGeometry(int32_t width, int32_t height, BmpGeometry* geometry);

// Rows as shown in the image-size line: |height|, which for the one height
// without a positive counterpart wraps as 32-bit arithmetic does.
int32_t DisplayedRowCount(int32_t height);

// Gap length from the header's pixel data offset: offset - 54 in wrap-around
// 32-bit arithmetic, read as signed.
int32_t GapLengthFromOffset(uint32_t pixelDataOffset);

// Loads and validates `path`. On failure it has printed its one error line,
// closed the file and released everything, and *image holds no blocks.
BmpStatus LoadBmpImage(const char* path, BmpImage* image);

// Writes the headers, gap block and pixel rows to `path`. The file appears
// whole or not at all: an existing regular file is replaced only once the new
// contents are complete. On failure it has printed its error line.
BmpStatus SaveBmpImage(const char* path, const BmpImage* image);

// Releases the pixel array, then the gap block. Safe on an image holding none.
void ReleaseBmpImage(BmpImage* image);
