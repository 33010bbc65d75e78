// The Linux half of the runtime services: opening files, reading and writing
// them at offsets, memory for pixel rows, paths, the steps of making and
// replacing a file, the write signals and the narrow encoding (UTF-8). The
// rest is shared with Windows (runtime_services_stdio.cpp).
#include "shell/runtime_services.h"
#include "shell/services_shared.h"
#include "shell/utf16_to_utf8.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <linux/fs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// New files get what fopen(path, "wb") would give them: read and write for
// everyone, less the process umask.
constexpr mode_t kNewFilePermissions = 0666;

// Blocks filled whole at once are aligned to this, the size of a huge page on
// x86-64 (and larger than the ARM one), so that where the system puts huge
// pages under all memory, the kernel can back the whole block with them.
constexpr size_t kHugePageBytes = 2 * 1024 * 1024;

size_t SystemPageBytes() {
    const long pageSize = sysconf(_SC_PAGESIZE);
    return pageSize > 0 ? static_cast<size_t>(pageSize) : 4096;
}

int32_t OutcomeOf(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return kShellFileDenied;
    case EEXIST:
        return kShellFileExists;
    default:
        return kShellFileFailed;
    }
}

// A stream over a descriptor just created; on failure the descriptor is closed
// and a named file (`path` not null) removed again.
ShellFile* WrapDescriptor(int descriptor, int32_t* outcome, const char* path) {
    FILE* stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        *outcome = kShellFileFailed;
        close(descriptor);
        if (path != nullptr) {
            RemoveNamed(path);
        }
        return nullptr;
    }
    *outcome = kShellFileDone;
    return Wrap(stream);
}

// The process's umask, read where it can be read without changing it (Linux
// shows it in /proc since 4.7); -1 where it cannot.
int ProcessUmask() {
    FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) {
        return -1;
    }
    int mask = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<int>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

// Opens the directory `path` is in, for reading its status and flags. -1 on
// failure.
int OpenDirectoryOf(const char* path) {
    const size_t length = DirectoryPartLength(path);
    char directory[PATH_MAX + 1];
    if (length >= sizeof directory) {
        return -1;
    }
    std::memcpy(directory, path, length);
    directory[length] = '\0';
    return open(length == 0 ? "." : directory, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
}

// Whether the regular file at `path`, of device `device`, is mounted over its
// name: the root of a mount (a file bind-mounted there), or on another device
// than its directory.
bool IsMountPoint(const char* path, dev_t device, int directory) {
    struct stat parent;
    if (directory >= 0 && fstat(directory, &parent) == 0 && parent.st_dev != device) {
        return true;
    }
#if defined(STATX_ATTR_MOUNT_ROOT)
    struct statx extended;
    if (statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS,
              &extended) == 0 &&
        (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
        return (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    }
#else
    (void)path;
#endif
    return false;
}

bool IsWritable(const char* path) {
    // Non-blocking, no controlling terminal, no link followed: the check never
    // waits for a reader or opens anything but the file it was given.
    const int descriptor = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    close(descriptor);
    return true;
}

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

int64_t ShellFileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    *stamp = ShellFileStamp{};
    struct stat status;
    if (fstat(fileno(Stream(file)), &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    stamp->device = static_cast<uint64_t>(status.st_dev);
    stamp->file = static_cast<uint64_t>(status.st_ino);
    stamp->size = static_cast<int64_t>(status.st_size);
    stamp->modified = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    stamp->changed = int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec;
    off_t position = ftello(Stream(file));
    if (position < 0 || position > status.st_size) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size - position);
}

void ShellFileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    // What the stream still buffers is not in the file yet.
    if (std::fflush(Stream(file)) != 0) {
        return;
    }
    sync_file_range(fileno(Stream(file)), offset, length, SYNC_FILE_RANGE_WRITE);
}

void* ShellReserveStore(size_t bytes, bool filledWhole) {
    if (bytes == 0) {
        return nullptr;
    }
    const size_t slack = filledWhole ? kHugePageBytes : 0;
    if (bytes > SIZE_MAX - slack) {
        return nullptr;
    }
    void* reserved =
        mmap(nullptr, bytes + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) {
        return nullptr;
    }
    uint8_t* block = static_cast<uint8_t*>(reserved);
    if (filledWhole) {
        // Keep the 2 MiB-aligned part; the pages before and after it go back.
        const uintptr_t address = reinterpret_cast<uintptr_t>(reserved);
        const size_t lead = (kHugePageBytes - address % kHugePageBytes) % kHugePageBytes;
        if (lead > 0) {
            munmap(reserved, lead);
        }
        block += lead;
        const size_t page = SystemPageBytes();
        const size_t kept = (bytes + page - 1) / page * page;
        if (slack - lead > kept - bytes) {
            munmap(block + kept, slack - lead - (kept - bytes));
        }
    }
    // A block filled whole is left to the system's policy rather than asked
    // for huge pages: a huge page has to come from a free 2 MiB run, and on a
    // virtual machine that hands idle memory back to its host those runs are
    // the memory handed back, which the host must supply again page by page,
    // so asking for them can make a dense job slower rather than faster
    // (docs/performance.md, "Small pages, not huge ones"). Advice only: a
    // kernel without transparent huge pages refuses it, and the block works
    // all the same.
    if (!filledWhole) {
        madvise(block, bytes, MADV_NOHUGEPAGE);
    }
    return block;
}

void ShellReleaseStore(void* block, size_t bytes) {
    if (block != nullptr) {
        munmap(block, bytes);
    }
}

void ShellGiveBackStorePages(void* start, size_t bytes) {
    const WholePages pages = WholePagesInside(start, bytes, SystemPageBytes());
    if (pages.from < pages.to) {
        // The pages are dropped at once, not when memory runs short, so the
        // writes that follow find them free.
        madvise(reinterpret_cast<void*>(pages.from), pages.to - pages.from, MADV_DONTNEED);
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

size_t TransferAt(ShellFile* file, void* destination, const void* source, size_t length,
                  int64_t offset) {
    const int descriptor = fileno(Stream(file));
    size_t done = 0;
    while (done < length) {
        const off_t at = offset + static_cast<off_t>(done);
        const ssize_t moved =
            destination != nullptr
                ? pread(descriptor, static_cast<uint8_t*>(destination) + done, length - done, at)
                : pwrite(descriptor, static_cast<const uint8_t*>(source) + done, length - done, at);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            break;
        }
        done += static_cast<size_t>(moved);
    }
    return done;
}

void ShellQueryPath(const char* path, ShellPathInfo* info) {
    struct stat status;
    *info = ShellPathInfo{};
    const bool found = lstat(path, &status) == 0;
    if (found && S_ISDIR(status.st_mode)) {
        info->kind = kShellPathDirectory;
        return;
    }
    if (found && !S_ISREG(status.st_mode)) {
        info->kind = kShellPathOther;
        return;
    }
    // A regular file or a missing one: how its directory takes names decides
    // how it is written.
    const int directory = OpenDirectoryOf(path);
    int flags = 0;
    info->appendOnly = directory >= 0 && ioctl(directory, FS_IOC_GETFLAGS, &flags) == 0 &&
                       (flags & FS_APPEND_FL) != 0;
    info->unnamedFiles = true;
    if (found) {
        info->kind = kShellPathRegular;
        info->permissions = static_cast<uint32_t>(status.st_mode & 07777);
        info->owner = static_cast<uint32_t>(status.st_uid);
        info->group = static_cast<uint32_t>(status.st_gid);
        info->links = static_cast<uint32_t>(status.st_nlink);
        info->device = static_cast<uint64_t>(status.st_dev);
        info->file = static_cast<uint64_t>(status.st_ino);
        info->accessList = lgetxattr(path, "system.posix_acl_access", nullptr, 0) > 0;
        info->writable = IsWritable(path);
        info->mountPoint = IsMountPoint(path, status.st_dev, directory);
    }
    if (directory >= 0) {
        close(directory);
    }
}

int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    return ConvertUtf16ToUtf8(wide, narrow, capacity);
}

uint32_t UniqueToken() {
    static std::atomic<uint32_t> counter{0};
    struct timespec now;
    timespec_get(&now, TIME_UTC);
    uint32_t token = static_cast<uint32_t>(getpid()) * 2654435761u;
    token ^= static_cast<uint32_t>(now.tv_nsec) ^ static_cast<uint32_t>(now.tv_sec);
    return token + counter.fetch_add(0x9E3779B9u, std::memory_order_relaxed);
}

ShellFile* CreateUnnamed(const char* directory, int32_t* outcome) {
    // Naming the file later goes through /proc (see LinkName); where
    // it is not mounted, say so now, before anything is written.
    if (access("/proc/self/fd", X_OK) != 0) {
        *outcome = kShellFileUnsupported;
        return nullptr;
    }
    const int descriptor = open(directory[0] == '\0' ? "." : directory,
                                O_TMPFILE | O_WRONLY | O_CLOEXEC, kNewFilePermissions);
    if (descriptor < 0) {
        // Kernels and file systems without unnamed files answer with one of
        // these (an old kernel sees O_DIRECTORY and a directory: EISDIR).
        const bool unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        *outcome = unsupported ? kShellFileUnsupported : OutcomeOf(errno);
        return nullptr;
    }
    return WrapDescriptor(descriptor, outcome, nullptr);
}

ShellFile* CreatePrivate(const char* path, int32_t* outcome) {
    const int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0) {
        *outcome = OutcomeOf(errno);
        return nullptr;
    }
    return WrapDescriptor(descriptor, outcome, path);
}

int32_t LinkName(ShellFile* file, const char* path) {
    if (std::fflush(Stream(file)) != 0) {
        return kShellFileFailed;
    }
    // Naming an open descriptor needs the descriptor's entry in /proc without
    // privileges; AT_EMPTY_PATH would want CAP_DAC_READ_SEARCH.
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fileno(Stream(file)));
    if (linkat(AT_FDCWD, procPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
        return kShellFileDone;
    }
    return OutcomeOf(errno);
}

int32_t TakeIdentity(ShellFile* file, const ShellPathInfo* target) {
    // Nothing may be written after the mode is set: a write by a caller
    // without CAP_FSETID clears the set-user-ID and set-group-ID bits.
    const int descriptor = fileno(Stream(file));
    struct stat status;
    if (std::fflush(Stream(file)) != 0) {
        return kShellFileFailed;
    }
    if (fstat(descriptor, &status) != 0) {
        return kShellFileDenied;
    }
    if (target->kind != kShellPathRegular) {
        // A new file: what the platform gives a new file here, unless the file
        // was made private and the umask can be learnt to open it up again.
        if ((status.st_mode & 077) != 0) {
            return kShellFileDone;
        }
        const int mask = ProcessUmask();
        if (mask < 0) {
            return kShellFileDenied;
        }
        return fchmod(descriptor, kNewFilePermissions & ~static_cast<mode_t>(mask)) == 0
                   ? kShellFileDone
                   : kShellFileDenied;
    }
    // Owner first: changing it clears the set-user and set-group bits.
    const uid_t owner = static_cast<uid_t>(target->owner);
    const gid_t group = static_cast<gid_t>(target->group);
    if ((status.st_uid != owner || status.st_gid != group) &&
        fchown(descriptor, owner, group) != 0) {
        return kShellFileDenied;
    }
    // The old file had no access list (one that had is written in place), so
    // none inherited from the directory's default may widen the new one.
    if (fremovexattr(descriptor, "system.posix_acl_access") != 0 && errno != ENODATA &&
        errno != ENOTSUP && errno != EOPNOTSUPP) {
        return kShellFileDenied;
    }
    // fchmod drops the set-group-ID bit silently for a caller outside the
    // file's group; the status read back shows it.
    const mode_t permissions = static_cast<mode_t>(target->permissions);
    if (fchmod(descriptor, permissions) != 0 || fstat(descriptor, &status) != 0) {
        return kShellFileDenied;
    }
    // A file system may accept the calls and still not keep what they asked.
    const bool same =
        status.st_uid == owner && status.st_gid == group && (status.st_mode & 07777) == permissions;
    return same ? kShellFileDone : kShellFileDenied;
}

int32_t MoveOver(const char* from, const char* target) {
    if (std::rename(from, target) == 0) {
        return kShellFileDone;
    }
    return errno == EBUSY || errno == EXDEV ? kShellFileDenied : OutcomeOf(errno);
}

void RemoveNamed(const char* path) {
    unlink(path);
}

namespace {

constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};
// Per signal, two bits of the value Hold returns: this hold blocked it, and it
// was already pending for the thread before.
constexpr uint32_t kBlockedHere = 1;
constexpr uint32_t kPendingBefore = 2;

} // namespace

uint32_t ShellHoldWriteSignals() {
    sigset_t wanted;
    sigset_t previous;
    sigemptyset(&wanted);
    for (int number : kWriteSignals) {
        sigaddset(&wanted, number);
    }
    if (pthread_sigmask(SIG_BLOCK, &wanted, &previous) != 0) {
        return 0;
    }
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    uint32_t held = 0;
    for (size_t i = 0; i < std::size(kWriteSignals); ++i) {
        const int number = kWriteSignals[i];
        const uint32_t bits = (sigismember(&previous, number) == 0 ? kBlockedHere : 0) |
                              (sigismember(&pending, number) == 1 ? kPendingBefore : 0);
        held |= bits << (2 * i);
    }
    return held;
}

void ShellReleaseWriteSignals(uint32_t held) {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    sigset_t unblock;
    sigemptyset(&unblock);
    for (size_t i = 0; i < std::size(kWriteSignals); ++i) {
        const int number = kWriteSignals[i];
        const uint32_t bits = held >> (2 * i);
        if ((bits & kBlockedHere) != 0) {
            sigaddset(&unblock, number); // one the caller had blocked stays blocked
        }
        if ((bits & kPendingBefore) == 0 && sigismember(&pending, number) == 1) {
            // Raised by a write of ours: take it, so it is never delivered.
            sigset_t only;
            sigemptyset(&only);
            sigaddset(&only, number);
            const struct timespec immediately = {0, 0};
            while (sigtimedwait(&only, nullptr, &immediately) < 0 && errno == EINTR) {
            }
        }
    }
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}
