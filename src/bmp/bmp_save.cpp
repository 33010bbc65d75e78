// Writing the pieces of an image to a file: headers, gap block and pixel rows.
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

#include "shell/runtime_services.h"

#include <cstring>

namespace {

bool WriteAll(ShellFile* file, const void* bytes, int32_t length) {
    if (length <= 0) {
        return true;
    }
    return ShellFileWrite(bytes, static_cast<size_t>(length), 1, file) == 1;
}

// Pixel arrays smaller than this go out in one write from memory: for them a
// kernel copy and the calls around it cost more than they save.
constexpr int32_t kKernelCopyMinimum = 64 * 1024;
// Bytes the kernel cannot copy are read and written in pieces of this size,
// so saving never holds more than this much of the input.
constexpr int32_t kCopyChunkBytes = 256 * 1024;

// Appends pixel bytes [start, end) of the input file to `file`: inside the
// kernel where it can, otherwise through a bounded buffer, otherwise (no room
// for the buffer) from the view, which holds the same bytes.
bool CopyFromInput(ShellFile* file, const BmpImage* image, int32_t start, int32_t end) {
    bool kernelCopies = true;
    uint8_t* chunk = nullptr;
    bool copied = true;
    while (copied && start < end) {
        const int32_t wanted = end - start;
        if (kernelCopies) {
            const int64_t moved =
                ShellFileCopyFromView(&image->view, start, static_cast<size_t>(wanted), file);
            if (moved > 0 && moved <= wanted) {
                start += static_cast<int32_t>(moved);
                continue;
            }
            // Unsupported here, or nothing moved: the reads below either do the
            // job or find out why.
            kernelCopies = false;
            chunk = static_cast<uint8_t*>(ShellAllocate(kCopyChunkBytes));
        }
        if (chunk == nullptr) {
            copied = WriteAll(file, image->pixels + start, wanted);
            break;
        }
        const int32_t piece = wanted < kCopyChunkBytes ? wanted : kCopyChunkBytes;
        copied = ShellFileReadFromView(&image->view, start, chunk, static_cast<size_t>(piece)) ==
                     static_cast<size_t>(piece) &&
                 WriteAll(file, chunk, piece);
        start += piece;
    }
    ShellRelease(chunk);
    return copied;
}

// Byte range of a run of blocks, cut to the pixel array.
void BlockRunBytes(const BmpImage* image, int32_t firstBlock, int32_t endBlock, int32_t* start,
                   int32_t* end) {
    const int64_t first = int64_t{firstBlock} * kBmpTouchBlockBytes - image->blockPhase;
    const int64_t last = int64_t{endBlock} * kBmpTouchBlockBytes - image->blockPhase;
    *start = first < 0 ? 0 : static_cast<int32_t>(first);
    *end = last > image->pixelBytes ? image->pixelBytes : static_cast<int32_t>(last);
}

// Writes the pixel rows, starting at byte `pixelStart` of the file. A heap
// block, a small array, or one mostly covered by stars goes out whole from
// memory. Otherwise the input's rows are copied as they are, as a copy of the
// file would, and the blocks stars touched are then written over them.
bool WritePixels(ShellFile* file, const BmpImage* image, int64_t pixelStart) {
    if (image->touchedBlocks == nullptr || image->pixelBytes < kKernelCopyMinimum) {
        return WriteAll(file, image->pixels, image->pixelBytes);
    }
    int32_t touched = 0;
    for (int32_t block = 0; block < image->touchedBlockCount; ++block) {
        touched += image->touchedBlocks[block];
    }
    if (touched > image->touchedBlockCount / 2) {
        return WriteAll(file, image->pixels, image->pixelBytes);
    }
    if (!CopyFromInput(file, image, 0, image->pixelBytes)) {
        return false;
    }
    int32_t block = 0;
    while (block < image->touchedBlockCount) {
        if (image->touchedBlocks[block] == 0) {
            ++block;
            continue;
        }
        int32_t runEnd = block;
        while (runEnd < image->touchedBlockCount && image->touchedBlocks[runEnd] != 0) {
            ++runEnd;
        }
        int32_t start = 0;
        int32_t end = 0;
        BlockRunBytes(image, block, runEnd, &start, &end);
        const size_t length = static_cast<size_t>(end - start);
        if (ShellFileWriteAt(file, image->pixels + start, length, pixelStart + start) != length) {
            return false;
        }
        block = runEnd;
    }
    return true;
}

} // namespace

bool WritePieces(ShellFile* file, const BmpImage* image) {
    return WriteAll(file, image->fileHeader, kBmpFileHeaderSize) &&
           WriteAll(file, image->infoHeader, kBmpInfoHeaderSize) &&
           (image->gapBlock == nullptr || WriteAll(file, image->gapBlock, image->gapLength)) &&
           WritePixels(file, image,
                       kBmpHeadersSize + (image->gapBlock == nullptr ? 0 : image->gapLength));
}

namespace {

// Writes every piece and closes the file, whatever happens; true when all of it
// reached the file.
bool WriteAndClose(ShellFile* file, const BmpImage* image) {
    bool written = WritePieces(file, image);
    bool closed = ShellFileClose(file) == 0;
    return written && closed;
}

} // namespace

// Opening truncates the target, and the target may be the input itself (a link
// to it, another name of it, or the input named again when its copy cannot take
// its place). Truncating a viewed file takes even the changed pages from the
// view, so viewed rows are first copied to the heap; if there is no room, the
// target is left alone.
BmpStatus SaveDirectly(const char* path, const BmpImage* image) {
    BmpImage held = *image;
    if (image->touchedBlocks != nullptr) {
        held.pixels = static_cast<uint8_t*>(ShellAllocate(static_cast<size_t>(image->pixelBytes)));
        if (held.pixels == nullptr) {
            return kBmpCannotAllocatePixels;
        }
        std::memcpy(held.pixels, image->pixels, static_cast<size_t>(image->pixelBytes));
        held.touchedBlocks = nullptr;
    }
    ShellFile* file = ShellFileOpen(path, "wb");
    BmpStatus status = kBmpCannotCreateOutput;
    if (file != nullptr) {
        status = WriteAndClose(file, &held) ? kBmpOk : kBmpCannotWriteOutput;
    }
    if (held.pixels != image->pixels) {
        ShellRelease(held.pixels);
    }
    return status;
}
