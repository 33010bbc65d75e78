#include "bmp_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace {

void PutLittleEndian16(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

} // namespace

void PutLittleEndian32(Bytes& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void PaintPixel(Bytes& file, size_t pixelStart, int32_t width, int32_t x, int32_t y, uint8_t red,
                uint8_t green, uint8_t blue) {
    size_t at = pixelStart + static_cast<size_t>(y) * static_cast<size_t>(StrideOf(width)) +
                static_cast<size_t>(x) * 3;
    file.at(at) = blue;
    file.at(at + 1) = green;
    file.at(at + 2) = red;
}

int32_t StrideOf(int32_t width) {
    return (width * 3 + 3) / 4 * 4;
}

Bytes MakeBmp(const BmpSpec& spec) {
    Bytes bytes(54, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLittleEndian32(bytes, 10, spec.pixelDataOffset);
    PutLittleEndian32(bytes, 14, spec.infoHeaderSize);
    PutLittleEndian32(bytes, 18, static_cast<uint32_t>(spec.width));
    PutLittleEndian32(bytes, 22, static_cast<uint32_t>(spec.height));
    PutLittleEndian16(bytes, 26, 1);
    PutLittleEndian16(bytes, 28, spec.bitCount);
    PutLittleEndian32(bytes, 30, spec.compression);
    PutLittleEndian32(bytes, 38, 2835);
    PutLittleEndian32(bytes, 42, 2835);
    for (uint32_t i = 54; i < spec.pixelDataOffset; ++i) {
        bytes.push_back(static_cast<uint8_t>(0xA0 + (i - 54)));
    }
    if (spec.withPixels && spec.width > 0 && spec.height != 0) {
        int32_t rows = spec.height < 0 ? -spec.height : spec.height;
        int32_t stride = StrideOf(spec.width);
        for (int32_t y = 0; y < rows; ++y) {
            for (int32_t i = 0; i < stride; ++i) {
                bool filler = i >= spec.width * 3;
                bytes.push_back(filler ? 0xEE : static_cast<uint8_t>(spec.fill + y * stride + i));
            }
        }
    }
    PutLittleEndian32(bytes, 2, static_cast<uint32_t>(bytes.size() + spec.trailingBytes));
    bytes.insert(bytes.end(), spec.trailingBytes, 0x77);
    return bytes;
}

Bytes PassThroughOf(const BmpSpec& spec) {
    Bytes bytes = MakeBmp(spec);
    bytes.resize(bytes.size() - spec.trailingBytes);
    return bytes;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

ScratchDirectory::ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pelindra-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        ADD_FAILURE() << "cannot create a scratch directory";
    }
    path = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> ScratchDirectory::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::u16string Wide(const std::filesystem::path& path) {
    return path.u16string();
}
