// Writing the pieces of an image to a file, and copying between files.
#include "bmp/bmp_write.h"

#include "platform/platform_calls.h"

namespace {

// Bytes the kernel cannot copy are read and written in pieces of this size,
// so a copy never holds more than this much of a file.
constexpr int64_t kCopyChunkBytes = 256 * 1024;

int64_t Advanced(int64_t at, int64_t moved) {
    return at == kShellAtPosition ? at : at + moved;
}

} // namespace

bool WriteBytesAt(ShellFile* file, const void* bytes, int64_t length, int64_t offset) {
    if (length <= 0) {
        return true;
    }
    const size_t wanted = static_cast<size_t>(length);
    return shell.FileWriteAt(file, bytes, wanted, offset) == wanted;
}

BmpStatus CopyBytes(ShellFile* from, int64_t offset, ShellFile* to, int64_t toOffset,
                    int64_t length, BmpStatus readFailure) {
    // In the kernel while it moves bytes; unsupported, failed or stopped, the
    // reads below either do the job or find out why. Nothing written is lost,
    // as every piece goes to its own offset. A stream is read as it comes.
    while (offset != kShellAtPosition && length > 0) {
        const int64_t moved =
            shell.FileCopyRange(from, offset, static_cast<size_t>(length), to, toOffset);
        if (moved <= 0 || moved > length) {
            break;
        }
        offset = Advanced(offset, moved);
        toOffset = Advanced(toOffset, moved);
        length -= moved;
    }
    if (length <= 0) {
        return kBmpOk;
    }
    const int64_t chunkBytes = length < kCopyChunkBytes ? length : kCopyChunkBytes;
    uint8_t* chunk = static_cast<uint8_t*>(shell.Allocate(static_cast<size_t>(chunkBytes)));
    if (chunk == nullptr) {
        return kBmpCannotAllocatePixels;
    }
    BmpStatus status = kBmpOk;
    while (status == kBmpOk && length > 0) {
        const int64_t piece = length < chunkBytes ? length : chunkBytes;
        if (shell.FileReadAt(from, chunk, static_cast<size_t>(piece), offset) !=
            static_cast<size_t>(piece)) {
            status = readFailure;
        } else if (!WriteBytesAt(to, chunk, piece, toOffset)) {
            status = kBmpCannotWriteOutput;
        }
        offset = Advanced(offset, piece);
        toOffset = Advanced(toOffset, piece);
        length -= piece;
    }
    shell.Release(chunk);
    return status;
}
