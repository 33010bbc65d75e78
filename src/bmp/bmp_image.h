// A BMP input and where its parts lie: headers, gap and pixel rows.
#pragma once

#include "bmp/bmp_layout.h"
#include "bmp/bmp_status.h"
#include "platform/platform_calls.h"

#include <cstdint>

// A BMP file being read: both headers as read, the sizes of its pixel rows and where its gap and
// rows are. Neither is held in memory: they are copied, read and written at their offsets in the
// files (the same offset in the input and in every file the image is written to).
struct BmpImage {
    uint8_t fileHeader[kBmpFileHeaderSize];
    uint8_t infoHeader[kBmpInfoHeaderSize];
    int32_t gapLength;  // pixel data offset - 54, read as signed; <= 0 means no gap
    int32_t width;      // pixels per row
    int32_t rows;       // |height|
    int32_t pad;        // filler bytes after each row (0 to 3)
    int32_t stride;     // bytes per row including the filler
    int32_t pixelBytes; // rows x stride
    // The input, open until the image is saved, and the file offset of its first pixel byte
    // (64-bit: after the longest gap it passes 32 bits).
    ShellFile* input;
    int64_t pixelOffset;
    // The input is a stream of unknown size (a pipe): after its headers, its gap and rows are
    // copied into a scratch file that becomes `input`, a whole image the job may draw on in place.
    bool streamed;
    // What identified the input's contents when it was measured, just after its headers were read:
    // rows read later come from the same contents only while the input still carries this stamp.
    ShellFileStamp inputStamp;
};

// Sets the image's width and the sizes of its rows from the header's width and height. Refuses what
// cannot be held in signed 32-bit sizes or would need a zero-byte pixel array, setting nothing.
BmpStatus ComputeBmpGeometry(int32_t width, int32_t height, BmpImage* image);

// Rows as shown in the image-size line: |height|, which for the one height without a positive
// counterpart wraps as 32-bit arithmetic does.
int32_t DisplayedRowCount(int32_t height);

// Gap length from the pixel data offset: offset - 54 in wrap-around 32-bit arithmetic, as signed.
int32_t GapLengthFromOffset(uint32_t pixelDataOffset);

// What the report says of a header: its size as given, once bit count and compression passed
// (`sized`), and the value a failure's line shows (bit count, width or size limit).
struct BmpHeaderNote {
    bool sized;
    int32_t width;
    int32_t height; // as displayed: |height|
    int32_t value;
};

// Opens `path`, reads and validates its headers, and makes its gap and rows readable at their
// offsets in `image->input`: a stream's are copied into a scratch file (kBmpCannotAllocateGap or
// kBmpCannotAllocatePixels where that cannot be written), a file's are measured to be there. On
// success the image holds the open input, on failure nothing; *note says what the report needs.
BmpStatus LoadBmpImage(const char* path, BmpImage* image, BmpHeaderNote* note);

// kBmpCannotReadPixels when the input's contents have changed since it was measured (written to,
// cut or grown): rows read before and after the change would make a patchwork.
BmpStatus CheckInputUnchanged(const BmpImage* image);

// Closes the input. Safe without an input.
void CloseBmpInput(BmpImage* image);
