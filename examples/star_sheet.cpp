// Draws one star of every size, 2 to 9, side by side on a dark strip, for the
// README's picture of what each star looks like: star_sheet OUT.bmp
#include "bmp/bmp_layout.h"
#include "render/stars.h"

#include <cstdio>
#include <vector>

namespace {

constexpr int32_t kCell = 21; // room for the largest star (size 9) and a margin
constexpr int32_t kSizes = 8;
constexpr int32_t kWidth = kCell * kSizes;
constexpr int32_t kHeight = kCell;

void PutLittleEndian(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: star_sheet OUT.bmp\n");
        return 2;
    }
    const int32_t stride = (kWidth * 3 + 3) / 4 * 4;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride * kHeight));
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            uint8_t* pixel = &pixels[static_cast<size_t>(y * stride + x * 3)];
            const bool shade = (x / kCell) % 2 == 0;
            pixel[0] = shade ? 60 : 48; // blue
            pixel[1] = shade ? 24 : 18;
            pixel[2] = shade ? 12 : 8;
        }
    }
    for (int32_t size = 2; size <= 9; ++size) {
        const PixelCanvas canvas = {pixels.data(),
                                    kWidth,
                                    kHeight,
                                    stride - kWidth * 3,
                                    (size - 2) * kCell + kCell / 2,
                                    kHeight / 2,
                                    size,
                                    255,
                                    255,
                                    255};
        if (size > 4) {
            DrawLargeStar(&canvas);
        } else {
            DrawSmallStar(&canvas);
        }
    }

    std::vector<uint8_t> header(kBmpHeadersSize, 0);
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian(header, 2, static_cast<uint32_t>(kBmpHeadersSize + pixels.size()), 4);
    PutLittleEndian(header, kBmpPixelDataOffsetOffset, kBmpHeadersSize, 4);
    PutLittleEndian(header, kBmpFileHeaderSize, kBmpInfoHeaderSize, 4);
    PutLittleEndian(header, kBmpFileHeaderSize + kBmpWidthOffset, kWidth, 4);
    // Negative height: top-down, so row 0 (where ray 0 points) is the top line.
    PutLittleEndian(header, kBmpFileHeaderSize + kBmpHeightOffset, static_cast<uint32_t>(-kHeight),
                    4);
    PutLittleEndian(header, kBmpFileHeaderSize + 12, 1, 2);
    PutLittleEndian(header, kBmpFileHeaderSize + kBmpBitCountOffset, kBmpSupportedBitCount, 2);

    FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(header.data(), header.size(), 1, out) == 1 &&
                         std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
