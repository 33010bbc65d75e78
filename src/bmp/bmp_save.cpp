// Writing the pieces of an image to a file: headers, gap block and pixel rows.
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

#include "shell/runtime_services.h"

namespace {

// Writes `length` bytes where the output stands, every one of them through an
// explicit write whose failure is the save's.
bool WriteAll(BmpOutput* output, const void* bytes, int32_t length) {
    if (length <= 0) {
        return true;
    }
    const size_t wanted = static_cast<size_t>(length);
    if (shell.FileWriteAt(output->file, bytes, wanted, output->at) != wanted) {
        return false;
    }
    if (output->at != kShellAtPosition) {
        output->at += length;
    }
    return true;
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
BmpStatus CopyFromInput(BmpOutput* output, const BmpImage* image, int32_t start, int32_t end) {
    bool kernelCopies = true;
    uint8_t* chunk = nullptr;
    int32_t chunkBytes = 0;
    BmpStatus status = kBmpOk;
    while (status == kBmpOk && start < end) {
        const int32_t wanted = end - start;
        if (kernelCopies) {
            const int64_t moved =
                shell.FileCopyRange(image->input, image->pixelOffset + start,
                                    static_cast<size_t>(wanted), output->file, output->at);
            if (moved > 0 && moved <= wanted) {
                start += static_cast<int32_t>(moved);
                output->at += output->at != kShellAtPosition ? moved : 0;
                continue;
            }
            // Unsupported here, failed, or nothing moved: the reads below
            // either do the job or find out why. Nothing written is lost, as
            // every piece goes to its own offset.
            kernelCopies = false;
            chunkBytes = wanted < kCopyChunkBytes ? wanted : kCopyChunkBytes;
            chunk = static_cast<uint8_t*>(shell.Allocate(static_cast<size_t>(chunkBytes)));
        }
        if (chunk == nullptr) {
            status = LoadPixelBytes(image, start, end - 1);
            if (status == kBmpOk && !WriteAll(output, image->pixels + start, wanted)) {
                status = kBmpCannotWriteOutput;
            }
            break;
        }
        const int32_t piece = wanted < chunkBytes ? wanted : chunkBytes;
        if (shell.FileReadAt(image->input, chunk, static_cast<size_t>(piece),
                             image->pixelOffset + start) != static_cast<size_t>(piece)) {
            status = kBmpCannotReadPixels;
        } else if (!WriteAll(output, chunk, piece)) {
            status = kBmpCannotWriteOutput;
        }
        start += piece;
    }
    shell.Release(chunk);
    return status;
}

// Large enough that the requests cost nothing beside the copying, small
// enough that the disk starts early.
constexpr int32_t kWriteBehindPages = 2048; // 8 MiB
// Pieces given back end on the store's 2 MiB boundaries: whole pages, and
// whole huge pages where the system backs the store with them.
constexpr int64_t kGiveBackBytes = int64_t{2} * 1024 * 1024;

// When writing behind, starts the disk on the finished piece [start, end);
// the last piece is left to the rename.
void StartPieceWriteback(const BmpOutput* target, const BmpImage* image, int32_t start,
                         int32_t end) {
    if (target->writeBehind && start < end && end < image->pixelBytes) {
        shell.FileStartWriteback(target->file, image->pixelOffset + start, end - start);
    }
}

// Where the piece of rows that starts at `start` ends: on the file's next
// page boundary when its pieces are handed on, so that no page handed on is
// written to again; on the store's next 2 MiB boundary when given back.
int32_t NextPieceBoundary(const BmpOutput* target, const BmpImage* image, int32_t start) {
    const int64_t unit =
        target->writeBehind ? int64_t{kWriteBehindPages} * kBmpPageBytes : kGiveBackBytes;
    const int64_t base = target->writeBehind ? image->pixelOffset : image->pagePhase;
    const int64_t end = ((base + start) / unit + 1) * unit - base;
    return end < image->pixelBytes ? static_cast<int32_t>(end) : image->pixelBytes;
}

// Writes the whole pixel array from memory: in one write, or in pieces that
// are handed on or given back as each is written.
BmpStatus WriteFromMemory(BmpOutput* target, const BmpImage* image) {
    if (!target->writeBehind && !target->mayGiveBackRows) {
        return WriteAll(target, image->pixels, image->pixelBytes) ? kBmpOk : kBmpCannotWriteOutput;
    }
    int32_t start = 0;
    while (start < image->pixelBytes) {
        const int32_t end = NextPieceBoundary(target, image, start);
        if (!WriteAll(target, image->pixels + start, end - start)) {
            return kBmpCannotWriteOutput;
        }
        StartPieceWriteback(target, image, start, end);
        if (target->mayGiveBackRows) {
            shell.GiveBackStorePages(image->pixels + start, static_cast<size_t>(end - start));
        }
        start = end;
    }
    return kBmpOk;
}

// Writes the runs of pages in [firstPage, endPage) that were read for stars
// over the rows copied there from the input.
bool WriteLoadedPages(const BmpOutput* target, const BmpImage* image, int32_t firstPage,
                      int32_t endPage) {
    for (int32_t page = firstPage; page < endPage;) {
        const int32_t runEnd = PageRunEnd(image, page, endPage);
        int32_t start = 0;
        int32_t end = 0;
        PageRunBytes(image, page, runEnd, &start, &end);
        const size_t length = static_cast<size_t>(end - start);
        if (image->loadedPages[page] != 0 &&
            shell.FileWriteAt(target->file, image->pixels + start, length,
                              image->pixelOffset + start) != length) {
            return false;
        }
        page = runEnd;
    }
    return true;
}

// Writes the pixel rows. Rows held whole in memory go out from there, and so
// do a small array and one mostly read already, once the rest is read.
// Otherwise the input's rows are copied as they are, as a copy of the file
// would, and the pages read for stars are then written over them: in one
// piece, or piece by piece when writing behind, so that every piece is final
// before it is handed on.
BmpStatus WritePixels(BmpOutput* target, const BmpImage* image) {
    if (image->held != kBmpRowsOnDemand) {
        return WriteFromMemory(target, image);
    }
    int32_t loaded = 0;
    for (int32_t page = 0; page < image->pageCount; ++page) {
        loaded += image->loadedPages[page];
    }
    if (loaded > 0 && (image->pixelBytes < kKernelCopyMinimum || loaded > image->pageCount / 2)) {
        const BmpStatus loadedAll = LoadPixelBytes(image, 0, image->pixelBytes - 1);
        return loadedAll != kBmpOk ? loadedAll : WriteFromMemory(target, image);
    }
    const int32_t step = target->writeBehind ? kWriteBehindPages : image->pageCount;
    int32_t firstPage = 0;
    while (firstPage < image->pageCount) {
        const int32_t left = image->pageCount - firstPage;
        const int32_t endPage = firstPage + (left < step ? left : step);
        int32_t start = 0;
        int32_t end = 0;
        PageRunBytes(image, firstPage, endPage, &start, &end);
        const BmpStatus copied = CopyFromInput(target, image, start, end);
        if (copied != kBmpOk) {
            return copied;
        }
        if (!WriteLoadedPages(target, image, firstPage, endPage)) {
            return kBmpCannotWriteOutput;
        }
        StartPieceWriteback(target, image, start, end);
        firstPage = endPage;
    }
    return kBmpOk;
}

} // namespace

BmpStatus WritePieces(BmpOutput* output, const BmpImage* image) {
    output->mayGiveBackRows = output->mayGiveBackRows && image->held != kBmpRowsInBlock;
    if (!WriteAll(output, image->fileHeader, kBmpFileHeaderSize) ||
        !WriteAll(output, image->infoHeader, kBmpInfoHeaderSize) ||
        !WriteAll(output, image->gapBlock, image->gapLength)) {
        return kBmpCannotWriteOutput;
    }
    return WritePixels(output, image);
}

// Opening truncates the target, and the target may be the input itself (a link
// to it, another name of it, or the input named again when its copy cannot take
// its place), so every row still to be read from the input is read first; if
// the input has changed since, the target is left alone. The image goes where
// the file stands, as a plain write would put it: at the start of a file just
// truncated, into a pipe or a device as it comes.
BmpStatus SaveDirectly(const char* path, BmpImage* image) {
    const BmpStatus loaded = LoadRemainingPixels(image);
    if (loaded != kBmpOk) {
        return loaded;
    }
    ShellFile* file = nullptr;
    if (shell.FileOpen(path, kShellOpenWrite, &file) != kShellFileDone) {
        return kBmpCannotCreateOutput;
    }
    BmpOutput output = {file, kShellAtPosition, false, true};
    const BmpStatus written = WritePieces(&output, image);
    const bool closed = shell.FileClose(file) == 0;
    return written == kBmpOk && !closed ? kBmpCannotWriteOutput : written;
}
