#include "bmp/bmp_image.h"

#include "shell/runtime_services.h"

#include <cstring>

namespace {

// True when a stream of known size (`remaining` bytes left, or -1 where the
// size is unknown) cannot supply `needed` bytes: the load then fails as a
// short read would, without first allocating the block.
bool FileCannotSupply(int64_t remaining, int32_t needed) {
    return remaining >= 0 && remaining < needed;
}

// Views the pixel rows in place of reading them. Only a file of known size
// that holds every row is viewed: touching a viewed page past the end of the
// file would be fatal, where reading it is merely short. False when the rows
// must be read instead; nothing is then held.
bool ViewPixels(ShellFile* file, int64_t remaining, BmpImage* image) {
    if (remaining < image->pixelBytes) {
        return false;
    }
    ShellFileView view;
    if (ShellFileMapView(file, static_cast<size_t>(image->pixelBytes), &view) != 0) {
        return false;
    }
    const int32_t phase = static_cast<int32_t>(view.offset % kBmpTouchBlockBytes);
    const int64_t blocks =
        (int64_t{phase} + image->pixelBytes + kBmpTouchBlockBytes - 1) / kBmpTouchBlockBytes;
    uint8_t* touched = static_cast<uint8_t*>(ShellAllocate(static_cast<size_t>(blocks)));
    if (touched == nullptr) {
        ShellFileUnmapView(&view);
        return false;
    }
    std::memset(touched, 0, static_cast<size_t>(blocks));
    image->view = view;
    image->pixels = view.bytes;
    image->touchedBlocks = touched;
    image->touchedBlockCount = static_cast<int32_t>(blocks);
    image->blockPhase = phase;
    return true;
}

// A stream of unknown size (a pipe) is read into a block that starts at this
// size and doubles as bytes arrive, so a header promising more than the stream
// holds costs no more memory than the stream delivers.
constexpr int32_t kFirstGrowingBlock = 64 * 1024;

// Reads `length` bytes into a new block at *block. On failure nothing is held
// and the status says whether memory or bytes ran out.
BmpStatus ReadBlock(ShellFile* file, bool sizeKnown, int32_t length, BmpStatus cannotAllocate,
                    BmpStatus cannotRead, uint8_t** block) {
    int32_t capacity = sizeKnown || length < kFirstGrowingBlock ? length : kFirstGrowingBlock;
    uint8_t* bytes = static_cast<uint8_t*>(ShellAllocate(static_cast<size_t>(capacity)));
    if (bytes == nullptr) {
        return cannotAllocate;
    }
    int32_t filled = 0;
    while (true) {
        const size_t wanted = static_cast<size_t>(capacity - filled);
        if (ShellFileRead(bytes + filled, 1, wanted, file) != wanted) {
            ShellRelease(bytes);
            return cannotRead;
        }
        filled = capacity;
        if (filled == length) {
            *block = bytes;
            return kBmpOk;
        }
        capacity = length - capacity < capacity ? length : capacity * 2;
        uint8_t* larger = static_cast<uint8_t*>(ShellAllocate(static_cast<size_t>(capacity)));
        if (larger == nullptr) {
            ShellRelease(bytes);
            return cannotAllocate;
        }
        std::memcpy(larger, bytes, static_cast<size_t>(filled));
        ShellRelease(bytes);
        bytes = larger;
    }
}

BmpStatus ReadHeaders(ShellFile* file, BmpImage* image) {
    if (ShellFileRead(image->fileHeader, kBmpFileHeaderSize, 1, file) != 1) {
        return kBmpCannotReadFileHeader;
    }
    if (ReadLittleEndian16(image->fileHeader + kBmpTypeOffset) != kBmpTypeMagic) {
        return kBmpNotBmp;
    }
    if (ShellFileRead(image->infoHeader, kBmpInfoHeaderSize, 1, file) != 1) {
        return kBmpCannotReadInfoHeader;
    }
    return kBmpOk;
}

// Everything after the open, with the file still open; the caller closes it.
// On failure the image holds no blocks.
BmpStatus ReadImage(ShellFile* file, BmpImage* image, int32_t* errorValue) {
    BmpStatus status = ReadHeaders(file, image);
    if (status != kBmpOk) {
        return status;
    }
    uint16_t bitCount = ReadLittleEndian16(image->infoHeader + kBmpBitCountOffset);
    if (bitCount != kBmpSupportedBitCount) {
        *errorValue = bitCount;
        return kBmpUnsupportedBitCount;
    }
    if (ReadLittleEndian32(image->infoHeader + kBmpCompressionOffset) != kBmpCompressionNone) {
        return kBmpCompressed;
    }

    int32_t width = static_cast<int32_t>(ReadLittleEndian32(image->infoHeader + kBmpWidthOffset));
    int32_t height = static_cast<int32_t>(ReadLittleEndian32(image->infoHeader + kBmpHeightOffset));
    ShellPrint("Image size: %d x %d pixels\n", width, DisplayedRowCount(height));

    BmpGeometry geometry;
    status = ComputeBmpGeometry(width, height, &geometry);
    if (status != kBmpOk) {
        *errorValue = width;
        return status;
    }
    image->width = width;
    image->rows = geometry.rows;
    image->pad = geometry.pad;
    image->stride = geometry.stride;
    image->pixelBytes = geometry.pixelBytes;
    image->gapLength =
        GapLengthFromOffset(ReadLittleEndian32(image->fileHeader + kBmpPixelDataOffsetOffset));

    // Measured once: from here on only the gap and the rows are read.
    int64_t remaining = ShellFileRemaining(file);
    if (image->gapLength > 0) {
        if (FileCannotSupply(remaining, image->gapLength)) {
            return kBmpCannotReadGap;
        }
        status = ReadBlock(file, remaining >= 0, image->gapLength, kBmpCannotAllocateGap,
                           kBmpCannotReadGap, &image->gapBlock);
        if (status != kBmpOk) {
            return status;
        }
        if (remaining >= 0) {
            remaining -= image->gapLength;
        }
    }

    // The pixel rows follow directly: after the gap, or after the 54 header bytes
    // when the offset points earlier. The reader never seeks.
    if (FileCannotSupply(remaining, image->pixelBytes)) {
        ReleaseBmpImage(image);
        return kBmpCannotReadPixels;
    }
    if (ViewPixels(file, remaining, image)) {
        return kBmpOk;
    }
    status = ReadBlock(file, remaining >= 0, image->pixelBytes, kBmpCannotAllocatePixels,
                       kBmpCannotReadPixels, &image->pixels);
    if (status != kBmpOk) {
        ReleaseBmpImage(image);
        return status;
    }
    return kBmpOk;
}

} // namespace

BmpStatus LoadBmpImage(const char* path, BmpImage* image) {
    std::memset(image, 0, sizeof *image);
    ShellFile* file = ShellFileOpen(path, "rb");
    if (file == nullptr) {
        PrintBmpError(kBmpCannotOpenInput, path, 0);
        return kBmpCannotOpenInput;
    }
    int32_t errorValue = 0;
    BmpStatus status = ReadImage(file, image, &errorValue);
    // The input is only read, so a failing close loses nothing.
    ShellFileClose(file);
    PrintBmpError(status, path, errorValue);
    return status;
}
