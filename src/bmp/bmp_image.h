// A loaded BMP file: both headers as read, the gap bytes and the pixel rows.
#pragma once

#include "bmp/bmp_layout.h"
#include "bmp/bmp_status.h"
#include "shell/runtime_services.h"

#include <cstdint>

// The pixel rows of a regular input file live in a pixel store: anonymous
// memory (never a view of the file, which a change to the file could take
// away), laid out so that each 4 KiB page of the store holds one page of the
// file, counted from the page boundary before the first pixel byte. Rows from
// a stream of unknown size (a pipe) are read into a heap block instead.
inline constexpr int32_t kBmpPageBytes = 4096;

// How the pixel rows are held. The job's plan chooses between reading them
// whole and on demand; a stream can only be read whole, into a heap block.
// The choice is made once, when the rows are loaded, and kept here.
enum BmpRows : int32_t {
    kBmpRowsInBlock,  // read whole into a heap block
    kBmpRowsWhole,    // read whole into the store
    kBmpRowsOnDemand, // in the store, each page read when a star first needs
                      // it; saving copies the rest straight from the input
};

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
    BmpRows held;
    bool streamed; // the input is a stream of unknown size
    // The store pixels points into (pixels = store + pagePhase), unless the
    // rows are in a heap block.
    uint8_t* store;
    size_t storeBytes;
    int32_t pagePhase; // offset of the first pixel byte within its page
    // The input, open from the headers until the rows are all in memory or
    // the image is saved; the file offset of its first pixel byte, there and
    // in every file the image is written to (64-bit: after the longest gap it
    // passes 32 bits). While the rows are read on demand: one byte per page
    // of the store, set once the page has been read.
    ShellFile* input;
    int64_t pixelOffset;
    uint8_t* loadedPages;
    int32_t pageCount;
    // What identified the input's contents when it was measured, just after
    // its headers were read: rows read later come from the same contents only
    // while the input still carries this stamp.
    ShellFileStamp inputStamp;
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

// Opens `path`, reads and validates its headers and reads its gap. On success
// the image holds the open input and the sizes of its rows, ready for
// LoadBmpRows. On failure it has printed its one error line, closed the file
// and released everything, and *image holds no blocks.
BmpStatus LoadBmpHeaders(const char* path, BmpImage* image);

// Holds the rows as `wanted` says (kBmpRowsWhole or kBmpRowsOnDemand; rows
// from a stream are read whole into a heap block whatever it says) and sets
// image->held. Rows read whole close the input. On failure, with
// kBmpCannotAllocatePixels or kBmpCannotReadPixels and nothing printed,
// everything is released.
BmpStatus LoadBmpRows(BmpImage* image, BmpRows wanted);

// Reads the pages holding pixel bytes [first, last] that are not yet in
// memory. kBmpCannotReadPixels when the input no longer holds them (it was
// cut or replaced since it was measured); nothing is printed.
BmpStatus LoadPixelBytes(const BmpImage* image, int32_t first, int32_t last);

// Bytes [*start, *end) of the pixel array that pages [firstPage, endPage) of
// the store hold. Pages are counted from the boundary before the first pixel
// byte, so the first and last pages also hold bytes outside the rows.
void PageRunBytes(const BmpImage* image, int32_t firstPage, int32_t endPage, int32_t* start,
                  int32_t* end);
// Where the run of pages from `page` that are all read, or all not yet read,
// ends: at `limit` at the latest. Only while the rows are read on demand.
int32_t PageRunEnd(const BmpImage* image, int32_t page, int32_t limit);

// Reads every page not yet in memory, so the whole pixel array is, and closes
// the input. Returns kBmpCannotReadPixels, printing nothing, when the input
// has changed (CheckInputUnchanged).
BmpStatus LoadRemainingPixels(BmpImage* image);

// kBmpCannotReadPixels when the rows are still read from an input whose
// contents have changed since it was measured (written to in place, cut or
// grown): rows read before and after the change would make a patchwork. kBmpOk
// otherwise, and always once every row is in memory. Prints nothing.
BmpStatus CheckInputUnchanged(const BmpImage* image);

// Closes the input once nothing more will be read from it; pages not read by
// then stay unread (LoadPixelBytes fails for them). Safe without an input.
void CloseBmpInput(BmpImage* image);

// Writes the headers, gap block and pixel rows to `path`. An existing regular
// file is replaced only once the new contents are complete, keeping its owner,
// group and permission bits, or else written in place (bmp_replace.cpp says
// when); one that could not be opened for writing is refused. On failure it
// has printed its error line. Either way the input is closed afterwards.
BmpStatus SaveBmpImage(const char* path, BmpImage* image);

// Releases the page record, the pixel array (store or heap block) and the gap
// block, then closes the input if it is still held. Safe on an image holding
// none.
void ReleaseBmpImage(BmpImage* image);
