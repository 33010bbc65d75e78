// The POSIX half of the runtime services: opening, creating and reading files
// at offsets, memory for pixel rows,
// paths, temporary names and the narrow encoding (UTF-8). The rest is plain C
// runtime, shared with Windows (runtime_services_stdio.cpp).
#include "shell/runtime_services.h"
#include "shell/stdio_stream.h"

#include "shell/utf16_to_utf8.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// New files get what fopen(path, "wb") would give them: read and write for
// everyone, less the process umask.
constexpr mode_t kNewFilePermissions = 0666;

// Blocks filled whole at once are aligned to this, the size of a huge page on
// x86-64 (and larger than the ARM one), so the kernel can back them with huge
// pages: one fault and one page-table entry per 2 MiB instead of 512.
constexpr size_t kHugePageBytes = 2 * 1024 * 1024;

} // namespace

ShellFile* ShellFileOpen(const char* path, const char* mode) {
    FILE* stream = std::fopen(path, mode);
    if (stream == nullptr || mode[0] != 'r') {
        return Wrap(stream);
    }
    // fopen happily opens a directory for reading on POSIX; refuse it here so the
    // caller reports that the input cannot be opened rather than a short read.
    struct stat status;
    if (fstat(fileno(stream), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(stream);
        errno = EISDIR;
        return nullptr;
    }
    return Wrap(stream);
}

ShellFile* ShellFileCreateExclusive(const char* path, int32_t* alreadyExists) {
    *alreadyExists = 0;
    int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFilePermissions);
    if (descriptor < 0) {
        *alreadyExists = errno == EEXIST ? 1 : 0;
        return nullptr;
    }
    FILE* stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        unlink(path);
    }
    return Wrap(stream);
}

int64_t ShellFileRemaining(ShellFile* file) {
    struct stat status;
    if (fstat(fileno(Stream(file)), &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    off_t position = ftello(Stream(file));
    if (position < 0 || position > status.st_size) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size - position);
}

int32_t ShellFileSetPermissions(ShellFile* file, uint32_t permissions) {
    return fchmod(fileno(Stream(file)), static_cast<mode_t>(permissions)) == 0 ? 0 : -1;
}

void* ShellReserveStore(size_t bytes, int32_t wholeUse) {
    if (bytes == 0) {
        return nullptr;
    }
    const size_t slack = wholeUse != 0 ? kHugePageBytes : 0;
    if (bytes > SIZE_MAX - slack) {
        return nullptr;
    }
    void* reserved =
        mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) {
        return nullptr;
    }
    uint8_t* block = static_cast<uint8_t*>(reserved);
    if (wholeUse != 0) {
        // Keep the 2 MiB-aligned part; the pages before and after it go back.
        const uintptr_t address = reinterpret_cast<uintptr_t>(reserved);
        const size_t lead = (kHugePageBytes - address % kHugePageBytes) % kHugePageBytes;
        if (lead > 0) {
            munmap(reserved, lead);
        }
        block += lead;
        const long pageSize = sysconf(_SC_PAGESIZE);
        const size_t page = pageSize > 0 ? static_cast<size_t>(pageSize) : 4096;
        const size_t kept = (bytes + page - 1) / page * page;
        if (slack - lead > kept - bytes) {
            munmap(block + kept, slack - lead - (kept - bytes));
        }
    }
#if defined(MADV_HUGEPAGE) && defined(MADV_NOHUGEPAGE)
    // Advice only: a kernel without transparent huge pages refuses it, and the
    // block works all the same.
    madvise(block, bytes, wholeUse != 0 ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
#endif
    return block;
}

void ShellReleaseStore(void* block, size_t bytes) {
    if (block != nullptr) {
        munmap(block, bytes);
    }
}

int64_t ShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to) {
    // The stream's buffer goes out first; the copy then lands at the true end
    // of the file, and the stream is moved past what the kernel wrote.
    if (std::fflush(Stream(to)) != 0) {
        return -1;
    }
    const int output = fileno(Stream(to));
    loff_t outputOffset = lseek(output, 0, SEEK_CUR);
    if (outputOffset < 0) {
        return -1;
    }
    loff_t inputOffset = offset;
    ssize_t copied = -1;
    do {
        copied =
            copy_file_range(fileno(Stream(from)), &inputOffset, output, &outputOffset, length, 0);
    } while (copied < 0 && errno == EINTR);
    if (copied < 0) {
        return -1;
    }
    if (fseeko(Stream(to), outputOffset, SEEK_SET) != 0) {
        return -1;
    }
    return static_cast<int64_t>(copied);
}

size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    if (std::fflush(Stream(file)) != 0) {
        return 0;
    }
    const int descriptor = fileno(Stream(file));
    size_t done = 0;
    while (done < length) {
        const ssize_t put = pwrite(descriptor, static_cast<const uint8_t*>(source) + done,
                                   length - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        done += static_cast<size_t>(put);
    }
    return done;
}

size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    const int descriptor = fileno(Stream(file));
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(descriptor, static_cast<uint8_t*>(destination) + done,
                                  length - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    return done;
}

void ShellQueryPath(const char* path, ShellPathInfo* info) {
    struct stat status;
    info->kind = kShellPathMissing;
    info->permissions = 0;
    if (lstat(path, &status) != 0) {
        return;
    }
    if (S_ISREG(status.st_mode)) {
        info->kind = kShellPathRegular;
        info->permissions = static_cast<uint32_t>(status.st_mode & 07777);
    } else if (S_ISDIR(status.st_mode)) {
        info->kind = kShellPathDirectory;
    } else {
        info->kind = kShellPathOther;
    }
}

int32_t ShellRenameFile(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? 0 : -1;
}

int32_t ShellRemoveFile(const char* path) {
    return std::remove(path) == 0 ? 0 : -1;
}

uint32_t ShellUniqueToken() {
    static std::atomic<uint32_t> counter{0};
    struct timespec now;
    timespec_get(&now, TIME_UTC);
    uint32_t token = static_cast<uint32_t>(getpid()) * 2654435761u;
    token ^= static_cast<uint32_t>(now.tv_nsec) ^ static_cast<uint32_t>(now.tv_sec);
    return token + counter.fetch_add(0x9E3779B9u, std::memory_order_relaxed);
}

int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    return ConvertUtf16ToUtf8(wide, narrow, capacity);
}
