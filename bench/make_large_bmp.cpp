// Writes a 24-bit BMP of the given size filled with a smooth gradient, for the
// whole-job timing: make_large_bmp WIDTH HEIGHT OUTPUT.bmp
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_large_bmp WIDTH HEIGHT OUTPUT.bmp\n");
        return 2;
    }
    const long width = std::strtol(argv[1], nullptr, 10);
    const long height = std::strtol(argv[2], nullptr, 10);
    if (width <= 0 || height <= 0 || width > 30000 || height > 30000) {
        std::fprintf(stderr, "make_large_bmp: sizes must be 1 to 30000\n");
        return 2;
    }
    const long stride = (width * 3 + 3) / 4 * 4;
    const uint64_t pixelBytes = static_cast<uint64_t>(stride) * static_cast<uint64_t>(height);
    uint8_t header[54] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(54 + pixelBytes));
    Put32(header + 10, 54);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<uint32_t>(width));
    Put32(header + 22, static_cast<uint32_t>(height));
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    Put32(header + 34, static_cast<uint32_t>(pixelBytes));

    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    std::fwrite(header, 1, sizeof header, out);
    std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
    for (long y = 0; y < height; ++y) {
        for (long x = 0; x < width; ++x) {
            row[static_cast<size_t>(x * 3)] = static_cast<uint8_t>(40 + y * 60 / height);
            row[static_cast<size_t>(x * 3 + 1)] = static_cast<uint8_t>(10 + x * 20 / width);
            row[static_cast<size_t>(x * 3 + 2)] = static_cast<uint8_t>(5 + (x ^ y) % 7);
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
