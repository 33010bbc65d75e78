// Many stars drawn band by band.
//
// Stars land at random places in an image far larger than the caches, so
// drawing them one by one waits on memory for nearly every star. Instead the
// stars are filed, in the order they are drawn, into every horizontal band of
// a few dozen rows that their box overlaps; each band is then drawn on its
// own, its stars in filing order and clipped to the band. A band fits the
// cache, and a later star still wins wherever stars overlap because inside a
// band they are drawn in draw order and the bands share no pixels.
//
// The filed stars live in a pool of fixed blocks, one chain per band. When
// the pool cannot take another star, the caller draws the bands (emptying the
// pool) and files on, which bounds the memory whatever the star count.
#pragma once

#include "render/star_spans.h"

#include <cstddef>
#include <cstdint>

// 32 rows of a 4096-pixel image are 384 KiB, well inside the cache next to
// the band's stars; 32 and 64 measured alike and clearly ahead of 16.
inline constexpr int32_t kStarBandDefaultRows = 32;
// Band heights are powers of two up to this, so a row's band is a shift; a
// star's centre is kept relative to its band in a signed byte.
inline constexpr int32_t kStarBandMaxRows = 64;
inline constexpr int32_t kStarBandBlockEntries = 128;

// One star filed into one band: its centre column, its centre row counted from
// the band's first row, its size and its colour.
struct StarBandEntry {
    int32_t x;
    int8_t row;
    uint8_t size;
    uint8_t blue;
    uint8_t green;
    uint8_t red;
};

struct StarBandBlock {
    int32_t next;  // the band's next block, or -1
    int32_t count; // entries in use
    StarBandEntry entries[kStarBandBlockEntries];
};

// Where the pieces go in the one heap block the caller provides: the
// StarBands record itself first (some tens of KiB, kept off the stack of the
// caller's thread), then the chains, the touched bits and the blocks.
struct StarBandsLayout {
    int32_t bandRows;
    int32_t bandCount;
    int32_t blockCount;
    size_t chainsOffset;  // int32_t first and last block per band
    size_t touchedOffset; // one bit per band that holds a star
    size_t blocksOffset;
    size_t bytes; // 0 when the sizes cannot be represented
};

// The layout for an image of `rows` rows, with room for at least
// `chunkStars` stars in bands of `bandRows` rows (a power of two, 1 to
// kStarBandMaxRows).
// bytes is 0 when the arguments are out of range or the sizes overflow.
StarBandsLayout PlanStarBands(int32_t rows, int32_t bandRows, int32_t chunkStars);

// A star's pixels as eight-byte writes, for stars clear of the side borders:
// plain stores where all eight bytes are the star's, masked writes elsewhere
// (bytes outside the mask are written back as read). Each write stays inside
// the star's box, so inside the image.
inline constexpr int32_t kStarMaxWordOps = 152; // 19 rows of 57 bytes at most
struct StarWordOp {
    ptrdiff_t offset; // from the centre pixel's first byte
    uint64_t mask;    // the bytes the star sets, lowest address lowest
    int32_t phase;    // offset mod 3: which colour byte comes first
};
struct StarWordOps {
    int32_t count; // -1: too far apart to address, use the spans
    // The plain stores of row offset r (-reach to reach) are ops
    // fullOfRow[r + reach] up to fullOfRow[r + reach + 1], the masked writes
    // likewise from maskedOfRow, so a star cut by a band edge takes just the
    // rows inside.
    int32_t fullOfRow[2 * kStarLargestSize + 2];
    int32_t maskedOfRow[2 * kStarLargestSize + 2];
    StarWordOp ops[kStarMaxWordOps];
};

struct StarBands {
    uint8_t* pixels;
    int32_t width;
    int32_t rows;
    int32_t pad;
    size_t stride;
    int32_t bandRows;
    int32_t bandShift; // bandRows is 1 << bandShift
    int32_t bandCount;
    int32_t* chains; // first, last block of band b at 2b, 2b + 1; -1 when empty
    uint64_t* touched;
    StarBandBlock* blocks;
    int32_t blockCount;
    int32_t blocksUsed;
    uint8_t warmSink;       // keeps the reads that bring a band into cache
    int32_t prefetchedBand; // asked for while the band before it was drawn
    StarShapes shapes;
    StarWordOps wordOps[kStarSizeCount];
};

// Sets up empty bands over the pixel rows in `memory`, a block of
// layout->bytes bytes aligned for 8-byte values, and returns their record,
// which lives at the start of the block.
StarBands* StartStarBands(const StarBandsLayout* layout, void* memory, uint8_t* pixels,
                          int32_t width, int32_t rows, int32_t pad);

// Files a star whose centre lies in the image and whose size is 2 to 9.
// Returns false, filing nothing, when the pool lacks room: draw the bands
// and file it again. Inline: it runs once per star, between the draws.
inline bool FileStar(StarBands* bands, int32_t x, int32_t y, int32_t size, uint8_t red,
                     uint8_t green, uint8_t blue) {
    const int32_t reach = bands->shapes.bySize[size - kStarSmallestSize].reach;
    const int32_t top = y < reach ? 0 : y - reach;
    const int32_t bottom = y > bands->rows - 1 - reach ? bands->rows - 1 : y + reach;
    const int32_t first = top >> bands->bandShift;
    const int32_t last = bottom >> bands->bandShift;
    if (bands->blockCount - bands->blocksUsed < last - first + 1) {
        return false;
    }
    for (int32_t band = first; band <= last; ++band) {
        int32_t* chain = bands->chains + 2 * static_cast<size_t>(band);
        StarBandBlock* block;
        if (chain[1] >= 0 && bands->blocks[chain[1]].count < kStarBandBlockEntries) {
            block = &bands->blocks[chain[1]];
        } else {
            const int32_t fresh = bands->blocksUsed++;
            block = &bands->blocks[fresh];
            block->next = -1;
            block->count = 0;
            if (chain[1] < 0) {
                chain[0] = fresh;
                bands->touched[band / 64] |= uint64_t{1} << (band % 64);
            } else {
                bands->blocks[chain[1]].next = fresh;
            }
            chain[1] = fresh;
        }
        StarBandEntry& entry = block->entries[block->count++];
        entry.x = x;
        entry.row = static_cast<int8_t>(y - (band << bands->bandShift));
        entry.size = static_cast<uint8_t>(size);
        entry.blue = blue;
        entry.green = green;
        entry.red = red;
    }
    return true;
}

// Draws every filed star, band by band, and empties the bands.
void DrawStarBands(StarBands* bands);
