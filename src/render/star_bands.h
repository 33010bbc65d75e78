// Many stars drawn band by band. Stars land at random places in an image far larger than the
// caches, so drawing them one by one waits on memory for nearly every star. Instead each star is
// added, in draw order, to every band of a few dozen rows its box overlaps; each band is then drawn
// on its own, its stars in the order added and clipped to the band. A band fits the cache, and a
// later star still wins wherever stars overlap, because the bands share no pixels.
//
// The added stars live in a pool of fixed blocks, one chain per band. When the pool is full, the
// caller draws the bands (emptying the pool) and adds on, which bounds the memory whatever the star
// count. Each band is drawn into its rows wherever the caller holds them at the time.
#pragma once

#include "render/star_unrolled.h"

#include <cstddef>
#include <cstdint>

// 64 rows of a 4096-pixel image are 768 KiB, inside the second-level cache with the band's stars
// and its scratch copy; lower bands cut more stars at their edges. A power of two, so that a row's
// band is a shift; a star's centre row counted from its band's first row fits a signed byte.
inline constexpr int32_t kStarBandShift = 6;
inline constexpr int32_t kStarBandRows = 1 << kStarBandShift;
inline constexpr int32_t kStarBandBlockEntries = 128;
inline constexpr int32_t kStarBandEntriesAhead = 8; // entries: 96 bytes, past the next line

// One star added to one band: centre column, centre row from the band's first row, size and colour.
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

// Where the pieces go in the one heap block the caller provides: the StarBands record first (kept
// off the caller's stack), then chains, touched bits, blocks and scratch rows.
struct StarBandsLayout {
    int32_t bandCount;
    int32_t blockCount;
    size_t chainsOffset;  // a StarBandChain per band
    size_t touchedOffset; // one bit per band that holds a star
    size_t blocksOffset;
    size_t scratchStride; // 0 when the bands are drawn in place
    size_t scratchOffset;
    size_t bytes; // 0 when the arguments are out of range or the sizes overflow
};

// The layout for `rows` rows `stride` bytes apart, with room for at least `stars` stars.
//
// Rows a multiple of 4 KiB apart, or nearly, fall on the same few sets of the first-level cache, so
// the rows of one star keep evicting one another: such bands are drawn in a scratch copy whose rows
// are a cache line further apart, when that copy is small.
StarBandsLayout PlanStarBands(int32_t rows, size_t stride, int32_t stars);
inline constexpr size_t kStarBandScratchLimit = size_t{1} << 20;

// A band's blocks, first to last (-1 when it has none). Adding reads only this small record, which
// stays in cache, never the blocks it writes to, which do not: the last block's count is kept here.
struct StarBandChain {
    int32_t first;
    int32_t last;
    int32_t lastCount;
};

struct StarBands {
    int32_t width;
    int32_t rows;
    size_t stride;
    int32_t bandCount;
    StarBandChain* chains;
    uint64_t* touched;
    StarBandBlock* blocks;
    int32_t blockCount;
    int32_t blocksUsed;
    bool apart;       // bands are drawn in a scratch copy (see PlanStarBands)
    uint8_t* scratch; // the band being drawn, when drawn apart; else null
    size_t scratchStride;
    uint8_t sink[kStarSinkBytes];
};

// Sets up empty bands for an image of `rows` rows of `width` pixels and `pad` filler bytes in
// `memory`, a block of layout->bytes bytes aligned for 8-byte values, and returns their record,
// which lives at the start of the block.
StarBands* StartStarBands(const StarBandsLayout* layout, void* memory, int32_t width, int32_t rows,
                          int32_t pad);

// Adds a star whose centre lies in the image and whose size is 2 to 9. False, adding nothing, when
// the pool lacks room: draw the bands and add it again. Inline: it runs per star, between draws.
inline bool AddStarToBands(StarBands* bands, int32_t x, int32_t y, int32_t size, uint8_t red,
                           uint8_t green, uint8_t blue) {
    // Every pixel of a star lies within `size` rows of its centre.
    const int32_t top = y < size ? 0 : y - size;
    const int32_t bottom = y > bands->rows - 1 - size ? bands->rows - 1 : y + size;
    const int32_t first = top >> kStarBandShift;
    const int32_t last = bottom >> kStarBandShift;
    if (bands->blockCount - bands->blocksUsed < last - first + 1) {
        return false;
    }
    for (int32_t band = first; band <= last; ++band) {
        StarBandChain* chain = &bands->chains[band];
        if (chain->last < 0 || chain->lastCount == kStarBandBlockEntries) {
            const int32_t fresh = bands->blocksUsed++;
            bands->blocks[fresh].next = -1;
            if (chain->last < 0) {
                chain->first = fresh;
                bands->touched[band / 64] |= uint64_t{1} << (band % 64);
            } else {
                bands->blocks[chain->last].next = fresh;
            }
            chain->last = fresh;
            chain->lastCount = 0;
        }
        StarBandBlock* block = &bands->blocks[chain->last];
        const int32_t count = chain->lastCount++;
        block->count = count + 1;
        StarBandEntry& entry = block->entries[count];
        entry.x = x;
        entry.row = static_cast<int8_t>(y - (band << kStarBandShift));
        entry.size = static_cast<uint8_t>(size);
        entry.blue = blue;
        entry.green = green;
        entry.red = red;
        // A band's entries are written to memory that has left the cache, and each band's stream is
        // too far apart from the others for the processor to see it: ask for the line of a later
        // entry now, so that it is there when that entry is written.
        const int32_t ahead = count + kStarBandEntriesAhead;
        __builtin_prefetch(
            &block->entries[ahead < kStarBandBlockEntries ? ahead : kStarBandBlockEntries - 1], 1);
    }
    return true;
}

// Whether any star was added to `band` since the bands were last emptied.
inline bool StarBandHasStars(const StarBands* bands, int32_t band) {
    return (bands->touched[band / 64] >> (band % 64) & 1) != 0;
}

// Draws the stars added to `band`, in the order they were added, into its rows, held at `rows` (its
// first row) `stride` bytes apart as in the image.
void DrawStarBand(StarBands* bands, int32_t band, uint8_t* rows);

// Empties every band, once each has been drawn, so that adding starts again.
void EmptyStarBands(StarBands* bands);
