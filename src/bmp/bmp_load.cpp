// Reading an input: its headers and gap, and making its rows readable.
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

#include "platform/platform_calls.h"

#include <cstring>

namespace {

// True when a stream of known size (`remaining` bytes left, or -1 where the
// size is unknown) cannot supply `needed` bytes: the load then fails as a
// short read would, without first allocating the block.
bool FileCannotSupply(int64_t remaining, int32_t needed) {
    return remaining >= 0 && remaining < needed;
}

// A gap from a stream of unknown size (a pipe) is read into a block that
// starts at this size and doubles as bytes arrive, so a header promising more
// than the stream holds costs no more memory than the stream delivers.
constexpr int32_t kFirstGrowingBlock = 64 * 1024;

// Reads `length` bytes into a new block at *block. On failure nothing is held
// and the status says whether memory or bytes ran out.
BmpStatus ReadBlock(ShellFile* file, bool sizeKnown, int32_t length, BmpStatus cannotAllocate,
                    BmpStatus cannotRead, uint8_t** block) {
    int32_t capacity = sizeKnown || length < kFirstGrowingBlock ? length : kFirstGrowingBlock;
    uint8_t* bytes = static_cast<uint8_t*>(shell.Allocate(static_cast<size_t>(capacity)));
    if (bytes == nullptr) {
        return cannotAllocate;
    }
    int32_t filled = 0;
    while (true) {
        const size_t wanted = static_cast<size_t>(capacity - filled);
        if (shell.FileReadAt(file, bytes + filled, wanted, kShellAtPosition) != wanted) {
            shell.Release(bytes);
            return cannotRead;
        }
        filled = capacity;
        if (filled == length) {
            *block = bytes;
            return kBmpOk;
        }
        capacity = length - capacity < capacity ? length : capacity * 2;
        uint8_t* larger = static_cast<uint8_t*>(shell.Allocate(static_cast<size_t>(capacity)));
        if (larger == nullptr) {
            shell.Release(bytes);
            return cannotAllocate;
        }
        std::memcpy(larger, bytes, static_cast<size_t>(filled));
        shell.Release(bytes);
        bytes = larger;
    }
}

BmpStatus ReadHeaders(ShellFile* file, BmpImage* image) {
    if (shell.FileReadAt(file, image->fileHeader, kBmpFileHeaderSize, kShellAtPosition) !=
        kBmpFileHeaderSize) {
        return kBmpCannotReadFileHeader;
    }
    if (ReadLittleEndian16(image->fileHeader + kBmpTypeOffset) != kBmpTypeMagic) {
        return kBmpNotBmp;
    }
    if (shell.FileReadAt(file, image->infoHeader, kBmpInfoHeaderSize, kShellAtPosition) !=
        kBmpInfoHeaderSize) {
        return kBmpCannotReadInfoHeader;
    }
    return kBmpOk;
}

// Everything after the open, with the file still open. On failure the image
// holds no blocks.
BmpStatus ReadImageHeaders(ShellFile* file, BmpImage* image, BmpHeaderNote* note) {
    BmpStatus status = ReadHeaders(file, image);
    if (status != kBmpOk) {
        return status;
    }
    uint16_t bitCount = ReadLittleEndian16(image->infoHeader + kBmpBitCountOffset);
    if (bitCount != kBmpSupportedBitCount) {
        note->value = bitCount;
        return kBmpUnsupportedBitCount;
    }
    if (ReadLittleEndian32(image->infoHeader + kBmpCompressionOffset) != kBmpCompressionNone) {
        return kBmpCompressed;
    }

    int32_t width = static_cast<int32_t>(ReadLittleEndian32(image->infoHeader + kBmpWidthOffset));
    int32_t height = static_cast<int32_t>(ReadLittleEndian32(image->infoHeader + kBmpHeightOffset));
    *note = {true, width, DisplayedRowCount(height), 0};

    BmpGeometry geometry;
    status = ComputeBmpGeometry(width, height, &geometry);
    if (status != kBmpOk) {
        note->value = width;
        return status;
    }
    image->width = width;
    image->rows = geometry.rows;
    image->pad = geometry.pad;
    image->stride = geometry.stride;
    image->pixelBytes = geometry.pixelBytes;
    image->gapLength =
        GapLengthFromOffset(ReadLittleEndian32(image->fileHeader + kBmpPixelDataOffsetOffset));
    // The pixel rows follow directly: after the gap, or after the 54 header
    // bytes when the offset points earlier.
    image->pixelOffset = int64_t{kBmpHeadersSize} + (image->gapLength > 0 ? image->gapLength : 0);

    // Measured once: from here on only the gap and the rows are read.
    int64_t remaining = shell.FileRemaining(file, &image->inputStamp);
    image->streamed = remaining < 0;
    if (image->gapLength > 0) {
        if (FileCannotSupply(remaining, image->gapLength)) {
            return kBmpCannotReadGap;
        }
        status = ReadBlock(file, !image->streamed, image->gapLength, kBmpCannotAllocateGap,
                           kBmpCannotReadGap, &image->gapBlock);
        if (status != kBmpOk) {
            return status;
        }
        if (!image->streamed) {
            remaining -= image->gapLength;
        }
    }
    if (FileCannotSupply(remaining, image->pixelBytes)) {
        ReleaseBmpImage(image);
        return kBmpCannotReadPixels;
    }
    return kBmpOk;
}

} // namespace

BmpStatus LoadBmpHeaders(const char* path, BmpImage* image, BmpHeaderNote* note) {
    std::memset(image, 0, sizeof *image);
    *note = BmpHeaderNote{};
    ShellFile* file = nullptr;
    if (shell.FileOpen(path, kShellOpenRead, &file) != kShellFileDone) {
        return kBmpCannotOpenInput;
    }
    const BmpStatus status = ReadImageHeaders(file, image, note);
    if (status != kBmpOk) {
        // The input is only read, so a failing close loses nothing.
        shell.FileClose(file);
        return status;
    }
    image->input = file;
    return kBmpOk;
}

namespace {

// Copies a stream's rows, as they arrive, into a scratch file holding the
// whole image at its offsets, which then stands for the input: the rows are
// all read before any output is made, as from a file, and never all held in
// memory.
BmpStatus SpoolStream(BmpImage* image) {
    ShellFile* scratch = nullptr;
    if (shell.FileOpen("", kShellOpenScratch, &scratch) != kShellFileDone) {
        return kBmpCannotAllocatePixels;
    }
    BmpStatus status = WriteBmpHeaders(scratch, image) ? kBmpOk : kBmpCannotAllocatePixels;
    if (status == kBmpOk) {
        status = CopyBytes(image->input, kShellAtPosition, scratch, image->pixelOffset,
                           image->pixelBytes, kBmpCannotReadPixels);
        // The scratch file is ours: failing to write it is a lack of room.
        status = status == kBmpCannotWriteOutput ? kBmpCannotAllocatePixels : status;
    }
    shell.FileClose(image->input);
    image->input = scratch;
    shell.FileRemaining(scratch, &image->inputStamp);
    return status;
}

} // namespace

BmpStatus LoadBmpRows(BmpImage* image) {
    BmpStatus status = kBmpOk;
    if (image->streamed) {
        status = SpoolStream(image);
    } else {
        // Measured again: an input cut since its headers were read fails here,
        // before any output is made.
        ShellFileStamp now;
        const int64_t remaining = shell.FileRemaining(image->input, &now);
        status = FileCannotSupply(remaining, image->pixelBytes) ? kBmpCannotReadPixels : kBmpOk;
    }
    if (status != kBmpOk) {
        ReleaseBmpImage(image);
    }
    return status;
}

BmpStatus CheckInputUnchanged(const BmpImage* image) {
    // A stream's scratch file is the job's own, drawn on where it lies.
    if (image->input == nullptr || image->streamed) {
        return kBmpOk;
    }
    ShellFileStamp now;
    shell.FileRemaining(image->input, &now);
    const ShellFileStamp& then = image->inputStamp;
    const bool same = now.device == then.device && now.file == then.file && now.size == then.size &&
                      now.modified == then.modified && now.changed == then.changed;
    return same ? kBmpOk : kBmpCannotReadPixels;
}

void CloseBmpInput(BmpImage* image) {
    if (image->input != nullptr) {
        shell.FileClose(image->input);
        image->input = nullptr;
    }
}

void ReleaseBmpImage(BmpImage* image) {
    shell.Release(image->gapBlock);
    image->gapBlock = nullptr;
    CloseBmpInput(image);
}
