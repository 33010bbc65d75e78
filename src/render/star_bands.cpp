#include "render/star_bands.h"

#include <algorithm>
#include <cstring>

namespace {

// The most bands a star's box overlaps: its 2 x 9 + 1 rows may start on a band's last row.
constexpr int32_t kBandsPerStar = (2 * kStarLargestSize) / kStarBandRows + 2;

constexpr StarBandChain kEmptyChain = {-1, -1, 0};

// Copies `rows` rows of pixels, without their pad, `from` one stride `to` another.
void CopyRows(uint8_t* to, size_t toStride, const uint8_t* from, size_t fromStride, int32_t rows,
              size_t rowBytes) {
    for (int32_t row = 0; row < rows; ++row) {
        std::memcpy(to + static_cast<size_t>(row) * toStride,
                    from + static_cast<size_t>(row) * fromStride, rowBytes);
    }
}

} // namespace

void DrawStarBand(StarBands* bands, int32_t band, uint8_t* rows) {
    const int32_t height = std::min(bands->rows - band * kStarBandRows, kStarBandRows);
    const size_t rowBytes = static_cast<size_t>(bands->width) * 3;
    if (bands->apart) {
        CopyRows(bands->scratch, bands->scratchStride, rows, bands->stride, height, rowBytes);
    }
    uint8_t* const pixels = bands->apart ? bands->scratch : rows;
    const size_t stride = bands->apart ? bands->scratchStride : bands->stride;
    const int32_t pad = static_cast<int32_t>(stride - rowBytes);
    StarBandChain* chain = &bands->chains[band];
    for (int32_t index = chain->first; index >= 0;) {
        const StarBandBlock* block = &bands->blocks[index];
        for (int32_t i = 0; i < block->count; ++i) {
            const StarBandEntry& entry = block->entries[i];
            const PixelCanvas canvas = {pixels,      bands->width, height,     pad,
                                        entry.x,     entry.row,    entry.size, entry.red,
                                        entry.green, entry.blue};
            DrawUnrolledStar(&canvas, bands->sink);
        }
        index = block->next;
    }
    *chain = kEmptyChain;
    if (bands->apart) {
        CopyRows(rows, bands->stride, bands->scratch, bands->scratchStride, height, rowBytes);
    }
}

namespace {

// How far the stride is from the nearest multiple of 4 KiB.
size_t PageAlias(size_t stride) {
    const size_t part = stride % 4096;
    return part < 4096 - part ? part : 4096 - part;
}

} // namespace

StarBandsLayout PlanStarBands(int32_t rows, size_t stride, int32_t stars) {
    StarBandsLayout layout = {};
    if (rows <= 0 || stars <= 0) {
        return layout;
    }
    // 64-bit throughout: every term below stays far from overflowing for 32-bit arguments, and the
    // result is checked against size_t and the 32-bit block index at the end.
    const uint64_t bandCount = (static_cast<uint64_t>(rows) + kStarBandRows - 1) / kStarBandRows;
    const uint64_t starCount = static_cast<uint64_t>(stars);
    const uint64_t perBlock = kStarBandBlockEntries;
    // Half as many entries again as stars covers those on a band edge; every band a star reaches
    // may hold a partly used block on top, so a pool sized for the stars is drawn in one pass.
    const uint64_t entryBlocks = (starCount + starCount / 2 + perBlock - 1) / perBlock;
    const uint64_t reached = starCount * kBandsPerStar;
    const uint64_t partBlocks = bandCount < reached ? bandCount : reached;
    const uint64_t blockCount = entryBlocks + partBlocks + kBandsPerStar;
    if (blockCount > INT32_MAX) {
        return layout;
    }
    const uint64_t recordBytes = (sizeof(StarBands) + 7) / 8 * 8;
    const uint64_t chainsBytes = (bandCount * sizeof(StarBandChain) + 7) / 8 * 8;
    const uint64_t touchedBytes = (bandCount + 63) / 64 * sizeof(uint64_t);
    const uint64_t blocksBytes = blockCount * sizeof(StarBandBlock);
    // The scratch rows are a whole number of cache lines plus one apart, and all kStarBandRows of
    // them take at most kStarBandScratchLimit bytes.
    const bool apart =
        PageAlias(stride) < 64 && stride <= kStarBandScratchLimit / kStarBandRows - 64;
    const uint64_t scratchStride = apart ? (static_cast<uint64_t>(stride) + 63) / 64 * 64 + 64 : 0;
    const uint64_t scratchBytes = scratchStride * kStarBandRows;
    const uint64_t bytes = recordBytes + chainsBytes + touchedBytes + blocksBytes + scratchBytes;
    if (bytes > SIZE_MAX) {
        return layout;
    }
    layout.bandCount = static_cast<int32_t>(bandCount);
    layout.blockCount = static_cast<int32_t>(blockCount);
    layout.chainsOffset = static_cast<size_t>(recordBytes);
    layout.touchedOffset = static_cast<size_t>(recordBytes + chainsBytes);
    layout.blocksOffset = static_cast<size_t>(recordBytes + chainsBytes + touchedBytes);
    layout.scratchStride = static_cast<size_t>(scratchStride);
    layout.scratchOffset = static_cast<size_t>(bytes - scratchBytes);
    layout.bytes = static_cast<size_t>(bytes);
    return layout;
}

StarBands* StartStarBands(const StarBandsLayout* layout, void* memory, int32_t width, int32_t rows,
                          int32_t pad) {
    uint8_t* base = static_cast<uint8_t*>(memory);
    StarBands* bands = static_cast<StarBands*>(memory);
    bands->width = width;
    bands->rows = rows;
    bands->stride = static_cast<size_t>(width) * 3 + static_cast<size_t>(pad);
    bands->bandCount = layout->bandCount;
    bands->chains = reinterpret_cast<StarBandChain*>(base + layout->chainsOffset);
    bands->touched = reinterpret_cast<uint64_t*>(base + layout->touchedOffset);
    bands->blocks = reinterpret_cast<StarBandBlock*>(base + layout->blocksOffset);
    bands->blockCount = layout->blockCount;
    bands->blocksUsed = 0;
    bands->apart = layout->scratchStride != 0;
    bands->scratch = bands->apart ? base + layout->scratchOffset : nullptr;
    bands->scratchStride = layout->scratchStride;
    std::fill_n(bands->chains, layout->bandCount, kEmptyChain);
    EmptyStarBands(bands);
    return bands;
}

void EmptyStarBands(StarBands* bands) {
    const int32_t words = (bands->bandCount + 63) / 64;
    std::memset(bands->touched, 0, static_cast<size_t>(words) * sizeof(uint64_t));
    bands->blocksUsed = 0;
}
