#include "render/star_bands.h"

#include <cstring>

namespace {

constexpr uint64_t kSizeLimit = SIZE_MAX;

uint64_t RoundUpTo8(uint64_t bytes) {
    return (bytes + 7) / 8 * 8;
}

// The most bands one star's box can overlap: its 2 x 9 + 1 rows may start on
// the last row of a band.
int32_t BandsPerStar(int32_t bandRows) {
    return (2 * kStarLargestSize) / bandRows + 2;
}

void DrawBand(StarBands* bands, int32_t band) {
    const int32_t top = band * bands->bandRows;
    const int32_t left = bands->rows - top;
    PixelCanvas canvas = {};
    canvas.pixels = bands->pixels + static_cast<size_t>(top) * bands->stride;
    canvas.width = bands->width;
    canvas.height = left < bands->bandRows ? left : bands->bandRows;
    canvas.pad = bands->pad;
    int32_t* chain = bands->chains + 2 * static_cast<size_t>(band);
    for (int32_t index = chain[0]; index >= 0;) {
        const StarBandBlock* block = &bands->blocks[index];
        for (int32_t i = 0; i < block->count; ++i) {
            const StarBandEntry& entry = block->entries[i];
            canvas.cx = entry.x;
            canvas.cy = entry.row;
            canvas.size = entry.size;
            canvas.red = entry.red;
            canvas.green = entry.green;
            canvas.blue = entry.blue;
            DrawStarShape(&canvas, &bands->shapes.bySize[entry.size - kStarSmallestSize]);
        }
        index = block->next;
    }
    chain[0] = -1;
    chain[1] = -1;
}

} // namespace

StarBandsLayout PlanStarBands(int32_t rows, int32_t bandRows, int32_t chunkStars) {
    StarBandsLayout layout = {};
    if (rows <= 0 || bandRows < 1 || bandRows > kStarBandMaxRows || chunkStars <= 0) {
        return layout;
    }
    // 64-bit throughout: every term below stays far from overflowing for
    // 32-bit arguments, and the result is checked against size_t and the
    // 32-bit block index at the end.
    const uint64_t bandCount =
        (static_cast<uint64_t>(rows) + static_cast<uint64_t>(bandRows) - 1) / bandRows;
    const uint64_t stars = static_cast<uint64_t>(chunkStars);
    const uint64_t perBlock = kStarBandBlockEntries;
    // Half as many entries again as stars covers the stars that straddle a
    // band edge; every band may hold a partly used block on top.
    const uint64_t entryBlocks = (stars + stars / 2 + perBlock - 1) / perBlock;
    const uint64_t partBlocks = bandCount < entryBlocks / 2 ? bandCount : entryBlocks / 2;
    const uint64_t blockCount =
        entryBlocks + partBlocks + static_cast<uint64_t>(BandsPerStar(bandRows));
    if (blockCount > INT32_MAX) {
        return layout;
    }
    const uint64_t chainsBytes = RoundUpTo8(bandCount * 2 * sizeof(int32_t));
    const uint64_t touchedBytes = (bandCount + 63) / 64 * sizeof(uint64_t);
    const uint64_t blocksBytes = blockCount * sizeof(StarBandBlock);
    const uint64_t bytes = chainsBytes + touchedBytes + blocksBytes;
    if (bytes > kSizeLimit) {
        return layout;
    }
    layout.bandRows = bandRows;
    layout.bandCount = static_cast<int32_t>(bandCount);
    layout.blockCount = static_cast<int32_t>(blockCount);
    layout.chainsOffset = 0;
    layout.touchedOffset = static_cast<size_t>(chainsBytes);
    layout.blocksOffset = static_cast<size_t>(chainsBytes + touchedBytes);
    layout.bytes = static_cast<size_t>(bytes);
    return layout;
}

void StartStarBands(StarBands* bands, const StarBandsLayout* layout, void* memory, uint8_t* pixels,
                    int32_t width, int32_t rows, int32_t pad) {
    uint8_t* base = static_cast<uint8_t*>(memory);
    bands->pixels = pixels;
    bands->width = width;
    bands->rows = rows;
    bands->pad = pad;
    bands->stride = static_cast<size_t>(width) * 3 + static_cast<size_t>(pad);
    bands->bandRows = layout->bandRows;
    bands->bandCount = layout->bandCount;
    bands->chains = reinterpret_cast<int32_t*>(base + layout->chainsOffset);
    bands->touched = reinterpret_cast<uint64_t*>(base + layout->touchedOffset);
    bands->blocks = reinterpret_cast<StarBandBlock*>(base + layout->blocksOffset);
    bands->blockCount = layout->blockCount;
    bands->blocksUsed = 0;
    const size_t bandCount = static_cast<size_t>(layout->bandCount);
    std::memset(bands->chains, 0xFF, bandCount * 2 * sizeof(int32_t)); // every chain -1
    std::memset(bands->touched, 0, (bandCount + 63) / 64 * sizeof(uint64_t));
    BuildStarShapes(&bands->shapes);
}

bool FileStar(StarBands* bands, int32_t x, int32_t y, int32_t size, uint8_t red, uint8_t green,
              uint8_t blue) {
    const int32_t reach = bands->shapes.bySize[size - kStarSmallestSize].reach;
    const int32_t top = y < reach ? 0 : y - reach;
    const int32_t bottom = y > bands->rows - 1 - reach ? bands->rows - 1 : y + reach;
    const int32_t first = top / bands->bandRows;
    const int32_t last = bottom / bands->bandRows;
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
        entry.row = static_cast<int8_t>(y - band * bands->bandRows);
        entry.size = static_cast<uint8_t>(size);
        entry.blue = blue;
        entry.green = green;
        entry.red = red;
    }
    return true;
}

void DrawStarBands(StarBands* bands) {
    const int32_t words = (bands->bandCount + 63) / 64;
    for (int32_t word = 0; word < words; ++word) {
        uint64_t bits = bands->touched[word];
        while (bits != 0) {
            DrawBand(bands, word * 64 + __builtin_ctzll(bits));
            bits &= bits - 1;
        }
        bands->touched[word] = 0;
    }
    bands->blocksUsed = 0;
}
