// The runtime services on Linux: printing, files read and written through their descriptors, heap
// blocks, paths, the write signals, the C library's generator and the narrow encoding (UTF-8).
#include "platform/draws_without_lock.h"
#include "platform/path_parts.h"
#include "platform/platform_calls.h"
#include "platform/utf16_to_utf8.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/fs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// New files get what open(path, O_CREAT, 0666) gives them, as fopen does: read and write for
// everyone, less the umask or the directory's default access list, which the kernel applies.
constexpr mode_t kNewFilePermissions = 0666;

// A file is its descriptor, shifted by one so that no file is null.
int Descriptor(ShellFile* file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

ShellFile* FileOf(int descriptor) {
    return reinterpret_cast<ShellFile*>(static_cast<intptr_t>(descriptor) + 1);
}

int32_t OutcomeOf(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return kShellFileDenied;
    case EEXIST:
        return kShellFileExists;
    case EBUSY:
    case EXDEV:
        return kShellFileBusy;
    default:
        return kShellFileFailed;
    }
}

// Opens the directory `path` is in, for reading its status and flags. -1 on failure.
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

// Whether the regular file at `path`, of device `device`, is mounted over its name: the root of a
// mount (a file bind-mounted there), or on another device than its directory.
bool IsMountPoint(const char* path, dev_t device, int directory) {
    struct stat parent;
    if (directory >= 0 && fstat(directory, &parent) == 0 && parent.st_dev != device) {
        return true;
    }
    struct statx extended;
    return statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS,
                 &extended) == 0 &&
           (extended.stx_attributes_mask & extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

bool IsWritable(const char* path) {
    // Non-blocking, no controlling terminal, no link followed: the check never waits for a reader
    // or opens anything but the file it was given.
    const int descriptor = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    close(descriptor);
    return true;
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

// What open is asked for each ShellOpenHow, in its order.
struct OpenFlags {
    int flags;
    mode_t permissions;
};
constexpr OpenFlags kOpenFlags[] = {
    {O_RDONLY, 0},
    {O_WRONLY | O_CREAT | O_TRUNC, kNewFilePermissions},
    {O_RDWR | O_TMPFILE, kNewFilePermissions},
    {O_RDWR | O_CREAT | O_EXCL, kNewFilePermissions},
    {O_RDWR | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR},
    {O_RDWR | O_TMPFILE, S_IRUSR | S_IWUSR},
};

// The folder scratch files go to: TMPDIR where set, as for every other tool.
const char* ScratchFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

// A scratch file where the folder has no unnamed files: a private name, removed at once.
int OpenNamedScratch(const char* folder) {
    char name[PATH_MAX];
    if (std::snprintf(name, sizeof name, "%s/.pelindra-XXXXXX", folder) >=
        static_cast<int>(sizeof name)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int descriptor = mkostemp(name, O_CLOEXEC);
    if (descriptor >= 0) {
        unlink(name);
    }
    return descriptor;
}

int32_t FileOpen(const char* path, int32_t how, ShellFile** file) {
    // Naming an unnamed file later goes through /proc (FileLink); where it is not mounted, say so
    // now, before anything is written.
    if (how < 0 || how >= static_cast<int32_t>(std::size(kOpenFlags)) ||
        (how == kShellOpenUnnamed && access("/proc/self/fd", X_OK) != 0)) {
        return kShellFileUnsupported;
    }
    const OpenFlags& wanted = kOpenFlags[how];
    const char* name = how == kShellOpenScratch                      ? ScratchFolder()
                       : how == kShellOpenUnnamed && path[0] == '\0' ? "."
                                                                     : path;
    int descriptor = open(name, wanted.flags | O_CLOEXEC, wanted.permissions);
    if (descriptor < 0 && how == kShellOpenScratch &&
        (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        descriptor = OpenNamedScratch(name);
    }
    if (descriptor < 0) {
        // Kernels and file systems without unnamed files answer with one of these (an old kernel
        // sees O_DIRECTORY and a directory: EISDIR).
        const bool unsupported =
            how == kShellOpenUnnamed && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL);
        return unsupported ? kShellFileUnsupported : OutcomeOf(errno);
    }
    // A directory opens for reading on POSIX; refuse it here so the caller reports that the input
    // cannot be opened rather than a short read.
    struct stat status;
    if (how == kShellOpenRead && fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(descriptor);
        return kShellFileFailed;
    }
    *file = FileOf(descriptor);
    return kShellFileDone;
}

// Reads into `destination`, or where it is null writes `source`, at `offset` or the file's
// position, until `length` bytes, the end or an error.
size_t Transfer(ShellFile* file, void* destination, const void* source, size_t length,
                int64_t offset) {
    const int descriptor = Descriptor(file);
    uint8_t* into = static_cast<uint8_t*>(destination);
    const uint8_t* from = static_cast<const uint8_t*>(source);
    size_t done = 0;
    while (done < length) {
        const size_t left = length - done;
        const off_t at = static_cast<off_t>(offset + static_cast<int64_t>(done));
        ssize_t moved = 0;
        if (into != nullptr) {
            moved = offset < 0 ? read(descriptor, into + done, left)
                               : pread(descriptor, into + done, left, at);
        } else {
            moved = offset < 0 ? write(descriptor, from + done, left)
                               : pwrite(descriptor, from + done, left, at);
        }
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

size_t FileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    return Transfer(file, destination, nullptr, length, offset);
}

size_t FileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    return Transfer(file, nullptr, source, length, offset);
}

int64_t FileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to,
                      int64_t toOffset) {
    loff_t inputOffset = offset;
    loff_t outputOffset = toOffset;
    ssize_t copied = -1;
    do {
        copied = copy_file_range(Descriptor(from), &inputOffset, Descriptor(to),
                                 toOffset < 0 ? nullptr : &outputOffset, length, 0);
    } while (copied < 0 && errno == EINTR);
    return copied < 0 ? -1 : static_cast<int64_t>(copied);
}

void FileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    sync_file_range(Descriptor(file), offset, length, SYNC_FILE_RANGE_WRITE);
}

int64_t FileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    *stamp = ShellFileStamp{};
    struct stat status;
    if (fstat(Descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        return -1;
    }
    stamp->device = static_cast<uint64_t>(status.st_dev);
    stamp->file = static_cast<uint64_t>(status.st_ino);
    stamp->size = static_cast<int64_t>(status.st_size);
    stamp->modified = int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec;
    stamp->changed = int64_t{status.st_ctim.tv_sec} * 1000000000 + status.st_ctim.tv_nsec;
    const off_t position = lseek(Descriptor(file), 0, SEEK_CUR);
    if (position < 0 || position > status.st_size) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size - position);
}

int32_t FileClose(ShellFile* file) {
    // Gone whatever close answers (EINTR too); an error is a write's, met late.
    return close(Descriptor(file)) == 0 ? 0 : -1;
}

int32_t FileLink(ShellFile* file, const char* path) {
    // Naming an open descriptor needs the descriptor's entry in /proc without privileges;
    // AT_EMPTY_PATH would want CAP_DAC_READ_SEARCH.
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", Descriptor(file));
    if (linkat(AT_FDCWD, procPath, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
        return kShellFileDone;
    }
    return OutcomeOf(errno);
}

int32_t FileTakeIdentity(ShellFile* file, const ShellPathInfo* target) {
    const int descriptor = Descriptor(file);
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        return kShellFileFailed;
    }
    // Owner first: changing it clears the set-user and set-group bits.
    const uid_t owner = static_cast<uid_t>(target->owner);
    const gid_t group = static_cast<gid_t>(target->group);
    if ((status.st_uid != owner || status.st_gid != group) &&
        fchown(descriptor, owner, group) != 0) {
        return kShellFileDenied;
    }
    // The old file had no access list (one that had is written in place), so none inherited from
    // the directory's default may widen the new one.
    if (fremovexattr(descriptor, "system.posix_acl_access") != 0 && errno != ENODATA &&
        errno != ENOTSUP && errno != EOPNOTSUPP) {
        return kShellFileDenied;
    }
    // fchmod drops the set-group-ID bit silently for a caller outside the file's group; the status
    // read back shows it.
    const mode_t permissions = static_cast<mode_t>(target->permissions);
    if (fchmod(descriptor, permissions) != 0 || fstat(descriptor, &status) != 0) {
        return kShellFileDenied;
    }
    // A file system may accept the calls and still not keep what they asked.
    const bool same =
        status.st_uid == owner && status.st_gid == group && (status.st_mode & 07777) == permissions;
    return same ? kShellFileDone : kShellFileDenied;
}

int32_t FileRename(const char* from, const char* to) {
    return std::rename(from, to) == 0 ? kShellFileDone : OutcomeOf(errno);
}

void FileRemove(const char* path) {
    unlink(path);
}

void QueryPath(const char* path, ShellPathInfo* info) {
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
    // A regular file or a missing one: how its directory takes names decides how it is written.
    const int directory = OpenDirectoryOf(path);
    int flags = 0;
    info->appendOnly = directory >= 0 && ioctl(directory, FS_IOC_GETFLAGS, &flags) == 0 &&
                       (flags & FS_APPEND_FL) != 0;
    if (found) {
        info->kind = kShellPathRegular;
        info->permissions = static_cast<uint32_t>(status.st_mode & 07777);
        info->owner = static_cast<uint32_t>(status.st_uid);
        info->group = static_cast<uint32_t>(status.st_gid);
        info->links = static_cast<uint32_t>(status.st_nlink);
        info->accessList = lgetxattr(path, "system.posix_acl_access", nullptr, 0) > 0;
        info->writable = IsWritable(path);
        info->mountPoint = IsMountPoint(path, status.st_dev, directory);
    }
    if (directory >= 0) {
        close(directory);
    }
}

void* Allocate(size_t bytes) {
    return std::malloc(bytes);
}

void Release(void* block) {
    std::free(block);
}

void RandomDraws(int32_t* values, int32_t count) {
    if (DrawWithoutLock(values, count)) {
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        values[i] = std::rand();
    }
}

constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};
// Per signal, two bits of the value Hold returns: this hold blocked it, and it was already pending
// for the thread before.
constexpr uint32_t kBlockedHere = 1;
constexpr uint32_t kPendingBefore = 2;

uint32_t HoldWriteSignals() {
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

void ReleaseWriteSignals(uint32_t held) {
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

} // namespace

ShellCalls shell = {
    .Print = Print,
    .FileOpen = FileOpen,
    .FileReadAt = FileReadAt,
    .FileWriteAt = FileWriteAt,
    .FileCopyRange = FileCopyRange,
    .FileStartWriteback = FileStartWriteback,
    .FileRemaining = FileRemaining,
    .FileClose = FileClose,
    .FileLink = FileLink,
    .FileTakeIdentity = FileTakeIdentity,
    .FileRename = FileRename,
    .FileRemove = FileRemove,
    .QueryPath = QueryPath,
    .Allocate = Allocate,
    .Release = Release,
    .RandomDraws = RandomDraws,
    .WideToNarrow = ConvertUtf16ToUtf8,
    .HoldWriteSignals = HoldWriteSignals,
    .ReleaseWriteSignals = ReleaseWriteSignals,
};
