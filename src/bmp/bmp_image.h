// A loaded BMP file: both headers as read, the gap bytes and the pixel rows.
#pragma once

#include "bmp/bmp_layout.h"
#include "bmp/bmp_status.h"
#include "shell/runtime_services.h"

#include <cstdint>

// The pixel rows of a regular input file are not copied: they are a private
// copy-on-write view of the file, so loading costs nothing per byte, stars
// cost only the pages they land on, and saving copies every block no star
// touched straight from the input inside the kernel. Where the input cannot
// be viewed (a pipe, a platform without mappings) the rows are read into a
// heap block instead and written back whole.
//
// Blocks are counted in file bytes from the page boundary before the first
// pixel row, so a block is one page of the view.
inline constexpr int32_t kBmpTouchBlockBytes = 4096;

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
    // When the rows are viewed rather than held: the view (pixels points into
    // it), one byte per block set once a star may have written into it, the
    // block count, and the offset of the first pixel byte within its block.
    ShellFileView view;     // empty when pixels is a heap block
    uint8_t* touchedBlocks; // touchedBlockCount bytes, or null for a heap block
    int32_t touchedBlockCount;
    int32_t blockPhase;
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

// Writes the headers, gap block and pixel rows to `path`. An existing regular
// file is replaced only once the new contents are complete, keeping its owner,
// group and permission bits, or else written in place (bmp_replace.cpp says
// when); one that could not be opened for writing is refused. On failure it
// has printed its error line.
BmpStatus SaveBmpImage(const char* path, const BmpImage* image);

// Records that bytes [first, last] of the pixel array may have changed. Does
// nothing for a heap block, which is written back whole.
void MarkPixelBytesTouched(const BmpImage* image, int32_t first, int32_t last);

// Releases the block record and the pixel array (view or heap block), then the
// gap block. Safe on an image holding none.
void ReleaseBmpImage(BmpImage* image);
