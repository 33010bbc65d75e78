#include "bmp/bmp_image.h"

#include "shell/runtime_services.h"

#include <cstdio>
#include <cstring>

namespace {

// A temporary name beside the target: the target's directory plus a short name,
// so the result fits even when the target's own name is as long as names go.
constexpr char kTemporaryPrefix[] = ".pelindra-";
constexpr int32_t kTemporaryNameLength = 18; // prefix plus eight hex digits
constexpr int32_t kTemporaryPathCapacity = 256 + kTemporaryNameLength + 1;
constexpr int32_t kTemporaryNameAttempts = 16;

// Length of the directory part of `path`, separator included. Windows also
// takes backslashes and a drive prefix ("C:name"); elsewhere a backslash is an
// ordinary character of a file name.
size_t DirectoryLength(const char* path) {
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
#if defined(_WIN32)
        const bool separator = path[i] == '/' || path[i] == '\\' || path[i] == ':';
#else
        const bool separator = path[i] == '/';
#endif
        if (separator) {
            length = i + 1;
        }
    }
    return length;
}

// Name clashes with other writers are retried with a fresh token; any other
// failure to create the file ends the attempt.
ShellFile* CreateTemporaryBeside(const char* target, char* temporaryPath) {
    size_t directoryLength = DirectoryLength(target);
    if (directoryLength + kTemporaryNameLength + 1 > kTemporaryPathCapacity) {
        return nullptr;
    }
    std::memcpy(temporaryPath, target, directoryLength);
    for (int32_t attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::snprintf(temporaryPath + directoryLength, kTemporaryNameLength + 1, "%s%08x",
                      kTemporaryPrefix, ShellUniqueToken());
        int32_t alreadyExists = 0;
        ShellFile* file = ShellFileCreateExclusive(temporaryPath, &alreadyExists);
        if (file != nullptr || alreadyExists == 0) {
            return file;
        }
    }
    return nullptr;
}

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

// Writes every piece and closes the file, whatever happens; kBmpOk when all of
// it reached the file, kBmpCannotReadPixels when rows still to be copied could
// not be read from the input. The input is closed as soon as the rows are
// written, so that it can be replaced by the new file even where open files
// cannot be.
BmpStatus WriteAndClose(ShellFile* file, BmpImage* image) {
    // 64-bit: the gap may be as long as a signed 32-bit length goes.
    const int64_t pixelStart =
        int64_t{kBmpHeadersSize} + (image->gapBlock == nullptr ? 0 : image->gapLength);
    BmpStatus status = kBmpCannotWriteOutput;
    if (WriteAll(file, image->fileHeader, kBmpFileHeaderSize) &&
        WriteAll(file, image->infoHeader, kBmpInfoHeaderSize) &&
        (image->gapBlock == nullptr || WriteAll(file, image->gapBlock, image->gapLength))) {
        status = WritePixels(file, image, pixelStart);
    }
    CloseBmpInput(image);
    const bool closed = ShellFileClose(file) == 0;
    return status == kBmpOk && !closed ? kBmpCannotWriteOutput : status;
}

// For targets that cannot be replaced by a rename: devices, pipes, links, or a
// file in a directory where nothing new may be created.
//
// Opening truncates the target, and the target may be the input itself (a link
// to it, or the input named again when no temporary could be made), so every
// row still to be read from the input is read first; if the input has changed
// since, the target is left alone.
BmpStatus SaveDirectly(const char* path, BmpImage* image) {
    const BmpStatus loaded = LoadRemainingPixels(image);
    if (loaded != kBmpOk) {
        return loaded;
    }
    ShellFile* file = ShellFileOpen(path, "wb");
    BmpStatus status = kBmpCannotCreateOutput;
    if (file != nullptr) {
        status = WriteAndClose(file, image);
    }
    return status;
}

BmpStatus SaveThroughTemporary(const char* path, const ShellPathInfo& target, BmpImage* image) {
    char temporaryPath[kTemporaryPathCapacity];
    ShellFile* file = CreateTemporaryBeside(path, temporaryPath);
    if (file == nullptr) {
        return target.kind == kShellPathRegular ? SaveDirectly(path, image)
                                                : kBmpCannotCreateOutput;
    }
    if (target.kind == kShellPathRegular) {
        // Best effort: a file system without permission bits still gets the image.
        ShellFileSetPermissions(file, target.permissions);
    }
    const BmpStatus written = WriteAndClose(file, image);
    if (written == kBmpOk && ShellRenameFile(temporaryPath, path) == 0) {
        return kBmpOk;
    }
    ShellRemoveFile(temporaryPath);
    return written == kBmpOk ? kBmpCannotWriteOutput : written;
}

} // namespace

BmpStatus SaveBmpImage(const char* path, BmpImage* image) {
    ShellPathInfo target;
    ShellQueryPath(path, &target);
    BmpStatus status = kBmpOk;
    if (path[0] == '\0' || target.kind == kShellPathDirectory) {
        status = kBmpCannotCreateOutput;
    } else if (target.kind == kShellPathOther) {
        status = SaveDirectly(path, image);
    } else {
        status = SaveThroughTemporary(path, target, image);
    }
    PrintBmpError(status, path, 0);
    return status;
}
