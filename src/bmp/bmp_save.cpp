// Writing the pieces of an image to a file: headers, gap block and pixel rows.
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

#include "shell/runtime_services.h"

namespace {

bool WriteAll(ShellFile* file, const void* bytes, int32_t length) {
    if (length <= 0) {
        return true;
    }
    return ShellFileWrite(bytes, static_cast<size_t>(length), 1, file) == 1;
}

// Pixel arrays smaller than this that stars were drawn on go out in one write
// from memory: for them a kernel copy and the calls around it cost more than
// they save.
constexpr int32_t kKernelCopyMinimum = 64 * 1024;
// Bytes the kernel cannot copy are read and written in pieces of this size,
// so saving never holds more than this much of the input.
constexpr int32_t kCopyChunkBytes = 256 * 1024;

// Appends pixel bytes [start, end) of the input file to `file`: inside the
// kernel where it can, otherwise through a bounded buffer, otherwise (no room
// for the buffer) through the pixel store, read in full first. An input that
// no longer holds the rows (cut since it was measured) is a failed read.
BmpStatus CopyFromInput(ShellFile* file, const BmpImage* image, int32_t start, int32_t end) {
    bool kernelCopies = true;
    uint8_t* chunk = nullptr;
    int32_t chunkBytes = 0;
    BmpStatus status = kBmpOk;
    while (status == kBmpOk && start < end) {
        const int32_t wanted = end - start;
        if (kernelCopies) {
            const int64_t moved = ShellFileCopyRange(image->input, image->pixelOffset + start,
                                                     static_cast<size_t>(wanted), file);
            if (moved > 0 && moved <= wanted) {
                start += static_cast<int32_t>(moved);
                continue;
            }
            // Unsupported here, or nothing moved: the reads below either do the
            // job or find out why.
            kernelCopies = false;
            chunkBytes = wanted < kCopyChunkBytes ? wanted : kCopyChunkBytes;
            chunk = static_cast<uint8_t*>(ShellAllocate(static_cast<size_t>(chunkBytes)));
        }
        if (chunk == nullptr) {
            status = LoadPixelBytes(image, start, end - 1);
            if (status == kBmpOk && !WriteAll(file, image->pixels + start, wanted)) {
                status = kBmpCannotWriteOutput;
            }
            break;
        }
        const int32_t piece = wanted < chunkBytes ? wanted : chunkBytes;
        if (ShellFileReadAt(image->input, chunk, static_cast<size_t>(piece),
                            image->pixelOffset + start) != static_cast<size_t>(piece)) {
            status = kBmpCannotReadPixels;
        } else if (!WriteAll(file, chunk, piece)) {
            status = kBmpCannotWriteOutput;
        }
        start += piece;
    }
    ShellRelease(chunk);
    return status;
}

// Byte range of a run of pages, cut to the pixel array.
void PageRunBytes(const BmpImage* image, int32_t firstPage, int32_t endPage, int32_t* start,
                  int32_t* end) {
    const int64_t first = int64_t{firstPage} * kBmpPageBytes - image->pagePhase;
    const int64_t last = int64_t{endPage} * kBmpPageBytes - image->pagePhase;
    *start = first < 0 ? 0 : static_cast<int32_t>(first);
    *end = last > image->pixelBytes ? image->pixelBytes : static_cast<int32_t>(last);
}

// Writes the pixel rows, starting at byte `pixelStart` of the file. Rows held
// whole in memory go out in one write, and so do a small array and one mostly
// read already, once the rest is read. Otherwise the input's rows are copied as
// they are, as a copy of the file would, and the pages read for stars are then
// written over them.
BmpStatus WritePixels(ShellFile* file, const BmpImage* image, int64_t pixelStart) {
    const BmpStatus cannotWrite = kBmpCannotWriteOutput;
    if (image->loadedPages == nullptr) {
        return WriteAll(file, image->pixels, image->pixelBytes) ? kBmpOk : cannotWrite;
    }
    int32_t loaded = 0;
    for (int32_t page = 0; page < image->pageCount; ++page) {
        loaded += image->loadedPages[page];
    }
    if (loaded > 0 && (image->pixelBytes < kKernelCopyMinimum || loaded > image->pageCount / 2)) {
        const BmpStatus loadedAll = LoadPixelBytes(image, 0, image->pixelBytes - 1);
        if (loadedAll != kBmpOk) {
            return loadedAll;
        }
        return WriteAll(file, image->pixels, image->pixelBytes) ? kBmpOk : cannotWrite;
    }
    const BmpStatus copied = CopyFromInput(file, image, 0, image->pixelBytes);
    if (copied != kBmpOk) {
        return copied;
    }
    int32_t page = 0;
    while (page < image->pageCount) {
        if (image->loadedPages[page] == 0) {
            ++page;
            continue;
        }
        int32_t runEnd = page;
        while (runEnd < image->pageCount && image->loadedPages[runEnd] != 0) {
            ++runEnd;
        }
        int32_t start = 0;
        int32_t end = 0;
        PageRunBytes(image, page, runEnd, &start, &end);
        const size_t length = static_cast<size_t>(end - start);
        if (ShellFileWriteAt(file, image->pixels + start, length, pixelStart + start) != length) {
            return cannotWrite;
        }
        page = runEnd;
    }
    return kBmpOk;
}

} // namespace

int64_t PixelRowsOffset(const BmpImage* image) {
    return int64_t{kBmpHeadersSize} + (image->gapBlock == nullptr ? 0 : image->gapLength);
}

BmpStatus WritePieces(ShellFile* file, const BmpImage* image) {
    const int64_t pixelStart = PixelRowsOffset(image);
    if (!WriteAll(file, image->fileHeader, kBmpFileHeaderSize) ||
        !WriteAll(file, image->infoHeader, kBmpInfoHeaderSize) ||
        (image->gapBlock != nullptr && !WriteAll(file, image->gapBlock, image->gapLength))) {
        return kBmpCannotWriteOutput;
    }
    return WritePixels(file, image, pixelStart);
}

// Opening truncates the target, and the target may be the input itself (a link
// to it, another name of it, or the input named again when its copy cannot take
// its place), so every row still to be read from the input is read first; if
// the input has changed since, the target is left alone.
BmpStatus SaveDirectly(const char* path, BmpImage* image) {
    const BmpStatus loaded = LoadRemainingPixels(image);
    if (loaded != kBmpOk) {
        return loaded;
    }
    ShellFile* file = ShellFileOpen(path, "wb");
    if (file == nullptr) {
        return kBmpCannotCreateOutput;
    }
    const BmpStatus written = WritePieces(file, image);
    const bool closed = ShellFileClose(file) == 0;
    return written == kBmpOk && !closed ? kBmpCannotWriteOutput : written;
}
