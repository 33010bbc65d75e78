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

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "masks assume little-endian words");

// The star's bytes row by row, covered by eight-byte windows from the left:
// each starts at the first byte not yet covered, moved left where needed to
// stay inside the box.
void BuildWordOps(const StarShape* shape, size_t stride, StarWordOps* ops) {
    ops->count = 0;
    const int32_t reach = shape->reach;
    const int32_t boxBytes = (2 * reach + 1) * 3;
    if (boxBytes < 8 || stride > static_cast<size_t>(PTRDIFF_MAX) / (2 * kStarLargestSize + 1)) {
        ops->count = -1;
        return;
    }
    // Windows whose eight bytes all belong to the star are plain stores and
    // come first, row by row; the masked ones follow, row by row.
    for (int32_t pass = 0; pass < 2; ++pass) {
        const bool wantFull = pass == 0;
        int32_t* firstOfRow = wantFull ? ops->fullOfRow : ops->maskedOfRow;
        for (int32_t row = -reach; row <= reach; ++row) {
            firstOfRow[row + reach] = ops->count;
            bool set[(2 * kStarLargestSize + 1) * 3] = {};
            for (int32_t i = 0; i < shape->spanCount; ++i) {
                const StarSpan& span = shape->spans[i];
                if (span.row != row) {
                    continue;
                }
                for (int32_t byte = (span.first + reach) * 3; byte < (span.last + reach) * 3 + 3;
                     ++byte) {
                    set[byte] = true;
                }
            }
            for (int32_t byte = 0; byte < boxBytes;) {
                if (!set[byte]) {
                    ++byte;
                    continue;
                }
                const int32_t start = byte < boxBytes - 8 ? byte : boxBytes - 8;
                byte = start + 8;
                uint64_t mask = 0;
                for (int32_t j = 0; j < 8; ++j) {
                    mask |= set[start + j] ? uint64_t{0xFF} << (8 * j) : 0;
                }
                if ((mask == ~uint64_t{0}) != wantFull) {
                    continue;
                }
                if (ops->count == kStarMaxWordOps) {
                    ops->count = -1; // cannot happen: at most 8 windows a row
                    return;
                }
                StarWordOp& op = ops->ops[ops->count++];
                op.mask = mask;
                op.offset = static_cast<ptrdiff_t>(row) * static_cast<ptrdiff_t>(stride) + start -
                            reach * 3;
                op.phase = start % 3;
            }
        }
        firstOfRow[2 * reach + 1] = ops->count;
    }
}

// Eight colour bytes, blue, green, red repeated, starting at each phase.
struct ColourWords {
    uint64_t byPhase[3];
};

ColourWords MakeColourWords(uint8_t blue, uint8_t green, uint8_t red) {
    const uint64_t b = blue;
    const uint64_t g = green;
    const uint64_t r = red;
    const uint64_t triples[3] = {b | g << 8 | r << 16, g | r << 8 | b << 16, r | b << 8 | g << 16};
    ColourWords words;
    for (int32_t phase = 0; phase < 3; ++phase) {
        const uint64_t t = triples[phase];
        words.byPhase[phase] = t | t << 24 | t << 48;
    }
    return words;
}

// Rows -above to below of the star centred at `centre`. The words to merge
// are all read before anything is written: the rows of a star lie a stride
// apart, often a multiple of 4 KiB, and a read behind a write to such an
// address waits for the write however far apart the two are.
inline void DrawWordOps(uint8_t* centre, const StarWordOps* ops, int32_t reach, int32_t above,
                        int32_t below, const ColourWords& colour) {
    const StarWordOp* masked = ops->ops + ops->maskedOfRow[reach - above];
    const int32_t maskedCount =
        ops->maskedOfRow[reach + below + 1] - ops->maskedOfRow[reach - above];
    uint64_t words[kStarMaxWordOps];
    for (int32_t i = 0; i < maskedCount; ++i) {
        std::memcpy(&words[i], centre + masked[i].offset, 8);
    }
    for (int32_t i = 0; i < maskedCount; ++i) {
        const StarWordOp& op = masked[i];
        const uint64_t word = (words[i] & ~op.mask) | (colour.byPhase[op.phase] & op.mask);
        std::memcpy(centre + op.offset, &word, 8);
    }
    const int32_t fullEnd = ops->fullOfRow[reach + below + 1];
    for (int32_t i = ops->fullOfRow[reach - above]; i < fullEnd; ++i) {
        const StarWordOp& op = ops->ops[i];
        std::memcpy(centre + op.offset, &colour.byPhase[op.phase], 8);
    }
}

// The stars of a busy band reach nearly every cache line of it, in random
// order, and each first touch would wait on memory. Reading the band in
// order first lets the processor stream it in at full speed.
size_t BandEntries(const StarBands* bands, int32_t band) {
    size_t entries = 0;
    for (int32_t index = bands->chains[2 * static_cast<size_t>(band)]; index >= 0;
         index = bands->blocks[index].next) {
        entries += static_cast<size_t>(bands->blocks[index].count);
    }
    return entries;
}

// A star covers some dozen rows: with a star for every few lines of the
// band, most lines get written.
bool BusyBand(size_t entries, size_t bytes) {
    return entries * 4 >= bytes / 64;
}

void WarmBand(StarBands* bands, const uint8_t* pixels, size_t bytes) {
    uint8_t seen = 0;
    for (size_t at = 0; at < bytes; at += 64) {
        seen |= pixels[at];
    }
    bands->warmSink |= seen;
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
    const size_t bytes = static_cast<size_t>(canvas.height) * bands->stride;
    const size_t entries = BandEntries(bands, band);
    if (bands->prefetchedBand != band && BusyBand(entries, bytes)) {
        WarmBand(bands, canvas.pixels, bytes);
    }
    // While this band is drawn, the next one, if busy, is asked for a few
    // lines per star, so that it is in cache when its turn comes.
    const uint8_t* ahead = canvas.pixels + bytes;
    const uint8_t* aheadEnd = ahead;
    size_t linesPerStar = 0;
    const int32_t next = band + 1;
    if (next < bands->bandCount && (bands->touched[next / 64] >> (next % 64) & 1) != 0) {
        const int32_t nextLeft = bands->rows - next * bands->bandRows;
        const size_t nextBytes =
            static_cast<size_t>(nextLeft < bands->bandRows ? nextLeft : bands->bandRows) *
            bands->stride;
        if (BusyBand(BandEntries(bands, next), nextBytes) && entries > 0) {
            aheadEnd = ahead + nextBytes;
            linesPerStar = (nextBytes / 64 + entries - 1) / entries;
            bands->prefetchedBand = next;
        }
    }
    for (int32_t index = chain[0]; index >= 0;) {
        const StarBandBlock* block = &bands->blocks[index];
        for (int32_t i = 0; i < block->count; ++i) {
            const StarBandEntry& entry = block->entries[i];
            for (size_t line = 0; line < linesPerStar && ahead < aheadEnd; ++line) {
                __builtin_prefetch(ahead, 1);
                ahead += 64;
            }
            const int32_t sizeIndex = entry.size - kStarSmallestSize;
            const StarWordOps* ops = &bands->wordOps[sizeIndex];
            const int32_t reach = bands->shapes.bySize[sizeIndex].reach;
            if (ops->count >= 0 && entry.x >= reach && entry.x + reach < canvas.width) {
                // Clear of the side borders: the rows inside the band, whole.
                const int32_t above = entry.row < reach ? entry.row : reach;
                const int32_t belowLimit = canvas.height - 1 - entry.row;
                const int32_t below = belowLimit < reach ? belowLimit : reach;
                uint8_t* centre =
                    canvas.pixels +
                    static_cast<ptrdiff_t>(entry.row) * static_cast<ptrdiff_t>(bands->stride) +
                    static_cast<ptrdiff_t>(entry.x) * 3;
                DrawWordOps(centre, ops, reach, above, below,
                            MakeColourWords(entry.blue, entry.green, entry.red));
                continue;
            }
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
    if (rows <= 0 || bandRows < 1 || bandRows > kStarBandMaxRows ||
        (bandRows & (bandRows - 1)) != 0 || chunkStars <= 0) {
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
    const uint64_t recordBytes = RoundUpTo8(sizeof(StarBands));
    const uint64_t chainsBytes = RoundUpTo8(bandCount * 2 * sizeof(int32_t));
    const uint64_t touchedBytes = (bandCount + 63) / 64 * sizeof(uint64_t);
    const uint64_t blocksBytes = blockCount * sizeof(StarBandBlock);
    const uint64_t bytes = recordBytes + chainsBytes + touchedBytes + blocksBytes;
    if (bytes > kSizeLimit) {
        return layout;
    }
    layout.bandRows = bandRows;
    layout.bandCount = static_cast<int32_t>(bandCount);
    layout.blockCount = static_cast<int32_t>(blockCount);
    layout.chainsOffset = static_cast<size_t>(recordBytes);
    layout.touchedOffset = static_cast<size_t>(recordBytes + chainsBytes);
    layout.blocksOffset = static_cast<size_t>(recordBytes + chainsBytes + touchedBytes);
    layout.bytes = static_cast<size_t>(bytes);
    return layout;
}

StarBands* StartStarBands(const StarBandsLayout* layout, void* memory, uint8_t* pixels,
                          int32_t width, int32_t rows, int32_t pad) {
    uint8_t* base = static_cast<uint8_t*>(memory);
    StarBands* bands = static_cast<StarBands*>(memory);
    bands->pixels = pixels;
    bands->width = width;
    bands->rows = rows;
    bands->pad = pad;
    bands->stride = static_cast<size_t>(width) * 3 + static_cast<size_t>(pad);
    bands->bandRows = layout->bandRows;
    bands->bandShift = __builtin_ctz(static_cast<uint32_t>(layout->bandRows));
    bands->bandCount = layout->bandCount;
    bands->chains = reinterpret_cast<int32_t*>(base + layout->chainsOffset);
    bands->touched = reinterpret_cast<uint64_t*>(base + layout->touchedOffset);
    bands->blocks = reinterpret_cast<StarBandBlock*>(base + layout->blocksOffset);
    bands->blockCount = layout->blockCount;
    bands->blocksUsed = 0;
    bands->warmSink = 0;
    bands->prefetchedBand = -1;
    const size_t bandCount = static_cast<size_t>(layout->bandCount);
    std::memset(bands->chains, 0xFF, bandCount * 2 * sizeof(int32_t)); // every chain -1
    std::memset(bands->touched, 0, (bandCount + 63) / 64 * sizeof(uint64_t));
    BuildStarShapes(&bands->shapes);
    for (int32_t i = 0; i < kStarSizeCount; ++i) {
        BuildWordOps(&bands->shapes.bySize[i], bands->stride, &bands->wordOps[i]);
    }
    return bands;
}

void DrawStarBands(StarBands* bands) {
    const int32_t words = (bands->bandCount + 63) / 64;
    for (int32_t word = 0; word < words; ++word) {
        uint64_t bits = bands->touched[word];
        while (bits != 0) {
            DrawBand(bands, word * 64 + __builtin_ctzll(bits));
            bits &= bits - 1;
        }
    }
    for (int32_t word = 0; word < words; ++word) {
        bands->touched[word] = 0;
    }
    bands->blocksUsed = 0;
    bands->prefetchedBand = -1;
}
