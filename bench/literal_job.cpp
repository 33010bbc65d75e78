// The job written the literal way, as a whole program to time against the
// library's: the file read whole with fread into one heap block, every star
// drawn pixel by pixel by the straightforward renderers as soon as its four
// values are drawn, the file written whole with fwrite.
//
//   pelindra_literal_job SEED INPUT OUTPUT STARS
//
// With the same seed it writes the same bytes as `pelindra --seed SEED`.
#include "bmp/bmp_image.h"
#include "straightforward_stars.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s SEED INPUT OUTPUT STARS\n", argv[0]);
        return 2;
    }
    FILE* input = std::fopen(argv[2], "rb");
    if (input == nullptr) {
        return 1;
    }
    BmpImage image{};
    if (std::fread(image.fileHeader, kBmpFileHeaderSize, 1, input) != 1 ||
        std::fread(image.infoHeader, kBmpInfoHeaderSize, 1, input) != 1) {
        return 1;
    }
    image.width = static_cast<int32_t>(ReadLittleEndian32(image.infoHeader + kBmpWidthOffset));
    const int32_t height =
        static_cast<int32_t>(ReadLittleEndian32(image.infoHeader + kBmpHeightOffset));
    image.rows = height < 0 ? -height : height;
    image.pad = (4 - (image.width * 3) % 4) % 4;
    image.stride = image.width * 3 + image.pad;
    image.pixelBytes = image.stride * image.rows;
    image.gapLength = static_cast<int32_t>(
        ReadLittleEndian32(image.fileHeader + kBmpPixelDataOffsetOffset) - kBmpHeadersSize);
    uint8_t* gapBlock = nullptr;
    if (image.gapLength > 0) {
        gapBlock = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(image.gapLength)));
        if (std::fread(gapBlock, 1, static_cast<size_t>(image.gapLength), input) !=
            static_cast<size_t>(image.gapLength)) {
            return 1;
        }
    }
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(image.pixelBytes)));
    if (std::fread(pixels, 1, static_cast<size_t>(image.pixelBytes), input) !=
        static_cast<size_t>(image.pixelBytes)) {
        return 1;
    }
    std::fclose(input);

    std::srand(static_cast<unsigned>(std::atoi(argv[1])));
    const MemoryImage rows = {pixels,    image.width,  image.rows,
                              image.pad, image.stride, image.pixelBytes};
    StraightforwardPlaceStars(&rows, std::atoi(argv[4]));

    FILE* output = std::fopen(argv[3], "wb");
    if (output == nullptr) {
        return 1;
    }
    std::fwrite(image.fileHeader, kBmpFileHeaderSize, 1, output);
    std::fwrite(image.infoHeader, kBmpInfoHeaderSize, 1, output);
    if (image.gapLength > 0) {
        std::fwrite(gapBlock, 1, static_cast<size_t>(image.gapLength), output);
    }
    std::fwrite(pixels, 1, static_cast<size_t>(image.pixelBytes), output);
    std::fclose(output);
    std::free(pixels);
    std::free(gapBlock);
    return 0;
}
