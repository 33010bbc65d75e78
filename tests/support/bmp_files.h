// Building BMP files byte by byte, and the scratch files tests work on.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct BmpSpec {
    int32_t width = 4;
    int32_t height = 3;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t pixelDataOffset = 54;
    uint32_t infoHeaderSize = 40;
    uint8_t fill = 0x10; // pixel bytes are fill + their index; filler bytes 0xEE
    size_t trailingBytes = 0;
    bool withPixels = true; // false for headers whose pixels could not be held
};

// Bytes of the stride-padded pixel rows a BmpSpec describes.
int32_t StrideOf(int32_t width);
// A whole file: headers, gap (bytes 0xA0 + index) up to the pixel data offset,
// pixel rows (pixels only when the dimensions are positive), trailing bytes 0x77.
Bytes MakeBmp(const BmpSpec& spec);
// The file a pass-through job must write: everything but the trailing bytes.
Bytes PassThroughOf(const BmpSpec& spec);

// Sets pixel (x, y) of a file whose rows start at byte `pixelStart`.
void PaintPixel(Bytes& file, size_t pixelStart, int32_t width, int32_t x, int32_t y, uint8_t red,
                uint8_t green, uint8_t blue);

void PutLittleEndian32(Bytes& bytes, size_t offset, uint32_t value);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

// A fresh directory for one test, removed with everything in it afterwards.
struct ScratchDirectory {
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    std::filesystem::path operator/(const std::string& name) const {
        return path / name;
    }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> Entries() const;
    std::filesystem::path path;
};

std::u16string Wide(const std::filesystem::path& path);
