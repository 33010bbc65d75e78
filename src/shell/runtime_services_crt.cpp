// The POSIX half of the runtime services: opening, creating and viewing files,
// paths, temporary names and the narrow encoding (UTF-8). The rest is plain C
// runtime, shared with Windows (runtime_services_stdio.cpp).
#include "shell/runtime_services.h"
#include "shell/stdio_stream.h"

#include "shell/utf16_to_utf8.h"

#include <atomic>
#include <cerrno>
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

// A view this small is copied whole when it is made. Stars touch most of the
// pages of a small image, and one call that copies every page costs less than
// a fault per page; large views stay lazy so memory does not grow with them.
constexpr size_t kCopiedViewBytes = 256 * 1024;

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

int32_t ShellFileMapView(ShellFile* file, size_t length, ShellFileView* view) {
    *view = ShellFileView{nullptr, nullptr, 0, 0, -1};
    const off_t position = ftello(Stream(file));
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (position < 0 || pageSize <= 0 || length == 0) {
        return -1;
    }
    // Mappings start on a page boundary; the view starts inside the first page.
    const off_t start = position - position % static_cast<off_t>(pageSize);
    const size_t lead = static_cast<size_t>(position - start);
    const int handle = fcntl(fileno(Stream(file)), F_DUPFD_CLOEXEC, 0);
    if (handle < 0) {
        return -1;
    }
    const int populate = lead + length <= kCopiedViewBytes ? MAP_POPULATE : 0;
    void* base =
        mmap(nullptr, lead + length, PROT_READ | PROT_WRITE, MAP_PRIVATE | populate, handle, start);
    if (base == MAP_FAILED) {
        close(handle);
        return -1;
    }
    view->bytes = static_cast<uint8_t*>(base) + lead;
    view->base = base;
    view->baseLength = lead + length;
    view->offset = static_cast<int64_t>(position);
    view->handle = handle;
    return 0;
}

void ShellFileUnmapView(ShellFileView* view) {
    if (view->base != nullptr) {
        munmap(view->base, view->baseLength);
    }
    if (view->handle >= 0) {
        close(view->handle);
    }
    *view = ShellFileView{nullptr, nullptr, 0, 0, -1};
}

int64_t ShellFileCopyFromView(const ShellFileView* view, int64_t offset, size_t length,
                              ShellFile* to) {
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
    loff_t inputOffset = view->offset + offset;
    const ssize_t copied =
        copy_file_range(view->handle, &inputOffset, output, &outputOffset, length, 0);
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

size_t ShellFileReadFromView(const ShellFileView* view, int64_t offset, void* destination,
                             size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(view->handle, static_cast<uint8_t*>(destination) + done,
                                  length - done, view->offset + offset + static_cast<off_t>(done));
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

size_t ShellCharacterBytes(const char* /*text*/) {
    return 1;
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
