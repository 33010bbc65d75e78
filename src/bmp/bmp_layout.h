// The BMP file layout this library reads and writes: headers packed, fields little-endian.
//
//   File header (14 bytes)          Info header (40 bytes, follows directly)
//   off size field                  off size field
//    0  u16  type = 'B' 'M'          0  u32  header size      (not examined)
//    2  u32  file size (kept)        4  i32  width            pixels per row
//    6  u16  reserved (kept)         8  i32  height           |height| rows; sign ignored
//    8  u16  reserved (kept)        12  u16  planes           (not examined)
//   10  u32  pixel data offset      14  u16  bit count        must be 24
//                                   16  u32  compression      must be 0
//                                   20..39   image size, resolutions, colour counts
//                                            (not examined)
//
// Then the gap: whatever lies between byte 54 and the pixel data offset (the rest of a longer info
// header, masks, a palette), carried through without being read. Then the pixel rows, each
// width x 3 bytes in blue, green, red order, padded with filler bytes to a multiple of four.
#pragma once

#include <cstdint>

inline constexpr int32_t kBmpFileHeaderSize = 14;
inline constexpr int32_t kBmpInfoHeaderSize = 40;
inline constexpr int32_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;

inline constexpr int32_t kBmpTypeOffset = 0;
inline constexpr int32_t kBmpPixelDataOffsetOffset = 10;

inline constexpr int32_t kBmpWidthOffset = 4;
inline constexpr int32_t kBmpHeightOffset = 8;
inline constexpr int32_t kBmpBitCountOffset = 14;
inline constexpr int32_t kBmpCompressionOffset = 16;

inline constexpr uint16_t kBmpTypeMagic = 0x4D42; // "BM" read little-endian
inline constexpr uint16_t kBmpSupportedBitCount = 24;
inline constexpr uint32_t kBmpCompressionNone = 0;

inline constexpr int32_t kBmpBytesPerPixel = 3;
inline constexpr int32_t kBmpRowAlignment = 4;

inline uint16_t ReadLittleEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t ReadLittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}
