// Reading an input: its headers, and making its gap and rows readable at their offsets.
#include "bmp/bmp_image.h"
#include "bmp/bmp_save.h"

#include "platform/platform_calls.h"

#include <climits>
#include <cstring>

namespace {

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

// Everything after the open, with the file still open.
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

    status = ComputeBmpGeometry(width, height, image);
    if (status != kBmpOk) {
        note->value = status == kBmpTooLarge ? INT32_MAX : width;
        return status;
    }
    image->gapLength =
        GapLengthFromOffset(ReadLittleEndian32(image->fileHeader + kBmpPixelDataOffsetOffset));
    // The rows follow the gap, or the 54 header bytes where the offset points earlier.
    image->pixelOffset = int64_t{kBmpHeadersSize} + (image->gapLength > 0 ? image->gapLength : 0);

    // Measured once after the headers: a file short of its gap or rows fails before output.
    const int64_t remaining = shell.FileRemaining(file, &image->inputStamp);
    const int64_t gapBytes = image->pixelOffset - kBmpHeadersSize;
    image->streamed = remaining < 0;
    if (!image->streamed && remaining < gapBytes) {
        return kBmpCannotReadGap;
    }
    if (!image->streamed && remaining - gapBytes < image->pixelBytes) {
        return kBmpCannotReadPixels;
    }
    return kBmpOk;
}

// Copies the next `length` bytes of a stream into the scratch file at `offset`. The scratch file
// holds them in place of memory: a write or a buffer that fails is `noRoom`.
BmpStatus Spool(ShellFile* stream, ShellFile* scratch, int64_t offset, int64_t length,
                BmpStatus noRoom, BmpStatus cut) {
    const BmpStatus status = CopyBytes(stream, kShellAtPosition, scratch, offset, length, cut);
    return status == kBmpOk || status == cut ? status : noRoom;
}

// Copies a stream's gap and rows, as they arrive, into a scratch file holding the whole image at
// its offsets, which then stands for the input: everything is read before any output is made, as
// from a file, and never held in memory. A stream cut short fails as a short file would.
BmpStatus SpoolStream(BmpImage* image) {
    const int64_t gapBytes = image->pixelOffset - kBmpHeadersSize;
    const BmpStatus noRoomForGap = gapBytes > 0 ? kBmpCannotAllocateGap : kBmpCannotAllocatePixels;
    ShellFile* scratch = nullptr;
    if (shell.FileOpen("", kShellOpenScratch, &scratch) != kShellFileDone) {
        return noRoomForGap;
    }
    BmpStatus status =
        WriteBytesAt(scratch, image->fileHeader, kBmpFileHeaderSize, 0) &&
                WriteBytesAt(scratch, image->infoHeader, kBmpInfoHeaderSize, kBmpFileHeaderSize)
            ? kBmpOk
            : noRoomForGap;
    if (status == kBmpOk) {
        status = Spool(image->input, scratch, kBmpHeadersSize, gapBytes, noRoomForGap,
                       kBmpCannotReadGap);
    }
    if (status == kBmpOk) {
        status = Spool(image->input, scratch, image->pixelOffset, image->pixelBytes,
                       kBmpCannotAllocatePixels, kBmpCannotReadPixels);
    }
    shell.FileClose(image->input);
    image->input = scratch;
    shell.FileRemaining(scratch, &image->inputStamp);
    return status;
}

} // namespace

BmpStatus LoadBmpImage(const char* path, BmpImage* image, BmpHeaderNote* note) {
    std::memset(image, 0, sizeof *image);
    *note = BmpHeaderNote{};
    if (shell.FileOpen(path, kShellOpenRead, &image->input) != kShellFileDone) {
        return kBmpCannotOpenInput;
    }
    BmpStatus status = ReadImageHeaders(image->input, image, note);
    if (status == kBmpOk && image->streamed) {
        status = SpoolStream(image);
    }
    if (status != kBmpOk) {
        // The input is only read, so a failing close loses nothing.
        CloseBmpInput(image);
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
