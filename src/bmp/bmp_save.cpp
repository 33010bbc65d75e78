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

// Name clashes with other writers are retried with a fresh token; any other
// failure to create the file ends the attempt.
ShellFile* CreateTemporaryBeside(const char* target, char* temporaryPath) {
    const char* slash = std::strrchr(target, '/');
    size_t directoryLength = slash == nullptr ? 0 : static_cast<size_t>(slash - target) + 1;
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

// Untouched stretches shorter than this are written from memory with their
// neighbours: one write is cheaper than a kernel copy and the calls around it.
constexpr int32_t kKernelCopyMinimum = 64 * 1024;
// Untouched bytes the kernel cannot copy are read and written in pieces of
// this size, so saving never holds more than this of the input.
constexpr int32_t kCopyChunkBytes = 256 * 1024;

struct UntouchedCopy {
    bool kernelCopies; // false once the kernel has failed to copy
    uint8_t* chunk;    // kCopyChunkBytes, allocated on first need
};

// Appends pixel bytes [start, end), which no star touched, from the input file.
bool CopyUntouched(ShellFile* file, const BmpImage* image, int32_t start, int32_t end,
                   UntouchedCopy* copy) {
    while (start < end) {
        const int32_t wanted = end - start;
        if (copy->kernelCopies) {
            const int64_t copied =
                ShellFileCopyFromView(&image->view, start, static_cast<size_t>(wanted), file);
            if (copied > 0 && copied <= wanted) {
                start += static_cast<int32_t>(copied);
                continue;
            }
            // Unsupported here, or nothing moved: the reads below either do the
            // job or find out why.
            copy->kernelCopies = false;
        }
        if (copy->chunk == nullptr) {
            copy->chunk = static_cast<uint8_t*>(ShellAllocate(kCopyChunkBytes));
        }
        if (copy->chunk == nullptr) {
            // No room for a bounce buffer: the viewed rows hold the same bytes.
            return WriteAll(file, image->pixels + start, wanted);
        }
        const int32_t piece = wanted < kCopyChunkBytes ? wanted : kCopyChunkBytes;
        if (ShellFileReadFromView(&image->view, start, copy->chunk, static_cast<size_t>(piece)) !=
                static_cast<size_t>(piece) ||
            !WriteAll(file, copy->chunk, piece)) {
            return false;
        }
        start += piece;
    }
    return true;
}

// Writes the pixel rows. A heap block goes out whole. Viewed rows go out in
// stretches: long untouched ones copied from the input, everything else
// written from the view, where the stars are.
bool WritePixels(ShellFile* file, const BmpImage* image) {
    if (image->touchedBlocks == nullptr) {
        return WriteAll(file, image->pixels, image->pixelBytes);
    }
    UntouchedCopy copy = {true, nullptr};
    bool written = true;
    int32_t unwritten = 0; // pixel bytes before this have gone out
    int32_t block = 0;
    while (written && block < image->touchedBlockCount) {
        if (image->touchedBlocks[block] != 0) {
            ++block;
            continue;
        }
        int32_t runEnd = block;
        while (runEnd < image->touchedBlockCount && image->touchedBlocks[runEnd] == 0) {
            ++runEnd;
        }
        const int64_t first = int64_t{block} * kBmpTouchBlockBytes - image->blockPhase;
        const int64_t last = int64_t{runEnd} * kBmpTouchBlockBytes - image->blockPhase;
        const int32_t start = first < 0 ? 0 : static_cast<int32_t>(first);
        const int32_t end =
            last > image->pixelBytes ? image->pixelBytes : static_cast<int32_t>(last);
        if (end - start >= kKernelCopyMinimum) {
            written = WriteAll(file, image->pixels + unwritten, start - unwritten) &&
                      CopyUntouched(file, image, start, end, &copy);
            unwritten = end;
        }
        block = runEnd;
    }
    written = written && WriteAll(file, image->pixels + unwritten, image->pixelBytes - unwritten);
    ShellRelease(copy.chunk);
    return written;
}

// Writes every piece and closes the file, whatever happens; true when all of it
// reached the file.
bool WriteAndClose(ShellFile* file, const BmpImage* image) {
    bool written =
        WriteAll(file, image->fileHeader, kBmpFileHeaderSize) &&
        WriteAll(file, image->infoHeader, kBmpInfoHeaderSize) &&
        (image->gapBlock == nullptr || WriteAll(file, image->gapBlock, image->gapLength)) &&
        WritePixels(file, image);
    bool closed = ShellFileClose(file) == 0;
    return written && closed;
}

// For targets that cannot be replaced by a rename: devices, pipes, links, or a
// file in a directory where nothing new may be created.
// Opening truncates the target, and the target may be the input itself (a link
// to it, or the input named again), whose untouched pages the view still
// reads from: the image takes its own copy of every page first.
BmpStatus SaveDirectly(const char* path, const BmpImage* image) {
    DetachBmpImageFromInput(image);
    ShellFile* file = ShellFileOpen(path, "wb");
    if (file == nullptr) {
        return kBmpCannotCreateOutput;
    }
    return WriteAndClose(file, image) ? kBmpOk : kBmpCannotWriteOutput;
}

BmpStatus SaveThroughTemporary(const char* path, const ShellPathInfo& target,
                               const BmpImage* image) {
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
    if (WriteAndClose(file, image) && ShellRenameFile(temporaryPath, path) == 0) {
        return kBmpOk;
    }
    ShellRemoveFile(temporaryPath);
    return kBmpCannotWriteOutput;
}

} // namespace

BmpStatus SaveBmpImage(const char* path, const BmpImage* image) {
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
