// The table on Windows, over the C runtime (msvcrt) and the Win32 file API. Files are C runtime
// descriptors, read and written on their handles with ReadFile and WriteFile, nothing buffered.
//
// Narrow paths are in the ANSI code page, and every file operation takes their exact wide form: the
// "A" functions would read them in the OEM code page after a host's SetFileApisToOEM, and name
// another file than the report. A path the code page cannot hold exactly is refused, not changed.
#include "platform/platform_calls.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace {

uint64_t Joined(DWORD high, DWORD low) {
    return (static_cast<uint64_t>(high) << 32) | low;
}

// A temporary name beside a target close to MAX_PATH can pass it, where the "A" functions stop but
// the file system does not: a path past the limit is made absolute under "\\?\", which lifts it.
// The room allows for a relative path below a deep current directory.
constexpr int kWidePathCapacity = 2048;

// Under Wine a Unix symbolic link shows as a plain file, but its handle names its target: a disk
// file whose final path is not its directory's plus its own long name was reached through a link.
bool ReachedThroughLink(HANDLE file, const wchar_t* path) {
    wchar_t given[kWidePathCapacity];
    wchar_t full[kWidePathCapacity];
    wchar_t final[kWidePathCapacity];
    const DWORD length = GetFullPathNameW(path, kWidePathCapacity, given, nullptr);
    const DWORD longLength = GetLongPathNameW(given, full, kWidePathCapacity);
    wchar_t* name =
        longLength > 0 && longLength < kWidePathCapacity ? std::wcsrchr(full, L'\\') : nullptr;
    if (length == 0 || length >= kWidePathCapacity || name == nullptr ||
        GetFinalPathNameByHandleW(file, final, kWidePathCapacity, 0) == 0) {
        return false;
    }
    // `given` becomes the final path expected: the directory's, then the name.
    std::wcscpy(given, name + 1);
    name[1] = L'\0'; // the directory, its separator kept so a drive's root stays one
    HANDLE directory = CreateFileW(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD directoryLength =
        directory == INVALID_HANDLE_VALUE
            ? 0
            : GetFinalPathNameByHandleW(directory, full, kWidePathCapacity, 0);
    if (directory != INVALID_HANDLE_VALUE) {
        CloseHandle(directory);
    }
    if (directoryLength == 0 || directoryLength + std::wcslen(given) + 2 >= kWidePathCapacity) {
        return false;
    }
    if (full[directoryLength - 1] != L'\\') {
        std::wcscat(full, L"\\");
    }
    std::wcscat(full, given);
    return _wcsicmp(full, final) != 0;
}

// Device names (NUL, COM1, CON) and pipes answer GetFileAttributes like plain files; only the type
// of an open handle tells them apart. Returns the number of names a disk file has, or 0 for
// anything else (written through, as is a file reached through a link).
DWORD DiskFileLinks(const wchar_t* path) {
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return 1; // it exists (it has attributes); let the save find out more
    }
    DWORD links = 0;
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileType(handle) == FILE_TYPE_DISK && !ReachedThroughLink(handle, path)) {
        const bool known = GetFileInformationByHandle(handle, &information) != 0;
        links = known && information.nNumberOfLinks > 1 ? information.nNumberOfLinks : 1;
    }
    CloseHandle(handle);
    return links;
}

// False when the path is not valid in the code page or does not fit.
bool ToWidePath(const char* path, wchar_t (&wide)[kWidePathCapacity]) {
    const int units =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, kWidePathCapacity);
    if (units <= 0) {
        return false;
    }
    if (units <= MAX_PATH) {
        return true;
    }
    wchar_t full[kWidePathCapacity];
    const DWORD length = GetFullPathNameW(wide, kWidePathCapacity, full, nullptr);
    constexpr DWORD kLongestPrefix = 8; // \\?\UNC\ in place of the leading \\ of a share
    if (length == 0 || length + kLongestPrefix >= static_cast<DWORD>(kWidePathCapacity)) {
        return false;
    }
    const wchar_t* rest = full;
    const wchar_t* prefix = L"\\\\?\\";
    if (full[0] == L'\\' && full[1] == L'\\') {
        if (full[2] == L'?' || full[2] == L'.') {
            prefix = L""; // already a device or long path
        } else {
            prefix = L"\\\\?\\UNC\\";
            rest = full + 2;
        }
    }
    std::wcscpy(wide, prefix);
    std::wcscat(wide, rest);
    return true;
}

int32_t OutcomeOf(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return kShellFileDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return kShellFileExists;
    default:
        return kShellFileFailed;
    }
}

// What ReplaceFileW keeps of the file it replaces besides its access list, given to the new file
// beforehand so that the result is the same where the replace keeps less (Wine's keeps nothing):
// the attributes a user sets and the creation time. Best effort: the contents are what matter.
void KeepIdentity(const wchar_t* file, const WIN32_FILE_ATTRIBUTE_DATA& target) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    HANDLE handle = CreateFileW(file, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        SetFileTime(handle, &target.ftCreationTime, nullptr, nullptr);
        CloseHandle(handle);
    }
    const DWORD kept = target.dwFileAttributes & kKept;
    SetFileAttributesW(file, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
}

// ReadFile and WriteFile take 32-bit lengths; larger transfers go in pieces.
constexpr size_t kLargestTransfer = 1u << 30;

// A file is its C runtime descriptor, shifted by one so that no file is null.
int Descriptor(ShellFile* file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

ShellFile* FileOf(int descriptor) {
    return reinterpret_cast<ShellFile*>(static_cast<intptr_t>(descriptor) + 1);
}

HANDLE HandleOf(ShellFile* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(Descriptor(file)));
}

// Moves bytes between the handle and memory at `offset`, or at the handle's position for
// kShellAtPosition; the position is left after the bytes.
size_t TransferAtHandle(HANDLE handle, void* destination, const void* source, size_t length,
                        int64_t offset) {
    // The position is moved to the offset first: an offset given in an OVERLAPPED would move it as
    // well, but Wine turns each such call into a round trip to its server, far dearer than a seek
    // for a job's many small reads and writes.
    LARGE_INTEGER to;
    to.QuadPart = offset;
    if (handle == INVALID_HANDLE_VALUE ||
        (offset != kShellAtPosition && SetFilePointerEx(handle, to, nullptr, FILE_BEGIN) == 0)) {
        return 0;
    }
    size_t done = 0;
    while (done < length) {
        const size_t left = length - done;
        const DWORD wanted = static_cast<DWORD>(left < kLargestTransfer ? left : kLargestTransfer);
        DWORD moved = 0;
        const BOOL ok = destination != nullptr
                            ? ReadFile(handle, static_cast<uint8_t*>(destination) + done, wanted,
                                       &moved, nullptr)
                            : WriteFile(handle, static_cast<const uint8_t*>(source) + done, wanted,
                                        &moved, nullptr);
        if (!ok || moved == 0) {
            break;
        }
        done += moved;
    }
    return done;
}

bool IsSeparator(char character) {
    return character == '\\' || character == '/';
}

bool IsWritable(const wchar_t* path) {
    // The read-only attribute is asked for directly: Windows refuses to open such a file for
    // writing whoever asks, where a POSIX layer under Wine run by root would not.
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        return false;
    }
    // An access list refusing writing, or a program holding the file unshared, refuses this open.
    HANDLE handle =
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(handle);
    return true;
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

// A scratch file: a fresh name in the user's temporary folder, deleted by the C runtime on close.
int32_t OpenScratch(ShellFile** file) {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"pel", 0, name) == 0) {
        return kShellFileFailed;
    }
    const int descriptor = _wsopen(name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_SHORT_LIVED,
                                   _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        DeleteFileW(name);
        return kShellFileFailed;
    }
    *file = FileOf(descriptor);
    return kShellFileDone;
}

int32_t FileOpen(const char* path, int32_t how, ShellFile** file) {
    // No file without a name here: a new file beside a target has a temporary name from the start,
    // and nobody else may open it. The C runtime refuses to open a directory.
    wchar_t wide[kWidePathCapacity];
    if (how == kShellOpenUnnamed) {
        return kShellFileUnsupported;
    }
    if (how == kShellOpenScratch) {
        return OpenScratch(file);
    }
    if (!ToWidePath(path, wide)) {
        return kShellFileFailed;
    }
    const bool created = how == kShellOpenNew || how == kShellOpenNewPrivate;
    const int flags = how == kShellOpenRead ? _O_RDONLY
                      : created             ? _O_RDWR | _O_CREAT | _O_EXCL
                                            : _O_WRONLY | _O_CREAT | _O_TRUNC;
    const int descriptor =
        _wsopen(wide, flags | _O_BINARY, created ? _SH_DENYRW : _SH_DENYNO, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) {
        return errno == EEXIST   ? kShellFileExists
               : errno == EACCES ? kShellFileDenied
                                 : kShellFileFailed;
    }
    *file = FileOf(descriptor);
    return kShellFileDone;
}

size_t FileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    return TransferAtHandle(HandleOf(file), destination, nullptr, length, offset);
}

size_t FileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    return TransferAtHandle(HandleOf(file), nullptr, source, length, offset);
}

// There is no kernel copy between files here: the caller copies through a buffer of its own.
int64_t FileCopyRange(ShellFile* /*from*/, int64_t /*offset*/, size_t /*length*/, ShellFile* /*to*/,
                      int64_t /*toOffset*/) {
    return -1;
}

// Windows cannot start writing a range without waiting (FlushFileBuffers waits for the whole file),
// nor does its replace push the new file out; the system writes the bytes in its own time.
void FileStartWriteback(ShellFile* /*file*/, int64_t /*offset*/, int64_t /*length*/) {}

int32_t FileClose(ShellFile* file) {
    return _close(Descriptor(file)) == 0 ? 0 : -1;
}

int64_t FileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    *stamp = ShellFileStamp{};
    struct _stati64 status;
    if (_fstati64(Descriptor(file), &status) != 0 || (status.st_mode & _S_IFREG) == 0) {
        return -1;
    }
    // The stamp is left zero where the system does not say.
    const HANDLE handle = HandleOf(file);
    BY_HANDLE_FILE_INFORMATION information;
    if (handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &information) != 0) {
        stamp->device = information.dwVolumeSerialNumber;
        stamp->file = Joined(information.nFileIndexHigh, information.nFileIndexLow);
        stamp->size =
            static_cast<int64_t>(Joined(information.nFileSizeHigh, information.nFileSizeLow));
        const FILETIME& written = information.ftLastWriteTime;
        stamp->modified =
            static_cast<int64_t>(Joined(written.dwHighDateTime, written.dwLowDateTime));
        FILE_BASIC_INFO basic;
        if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) != 0) {
            stamp->changed = basic.ChangeTime.QuadPart;
        }
    }
    const int64_t position = _lseeki64(Descriptor(file), 0, SEEK_CUR);
    if (position < 0 || position > status.st_size) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size) - position;
}

// Windows raises no signal for a failed write.
uint32_t HoldWriteSignals() {
    return 0;
}

void ReleaseWriteSignals(uint32_t /*held*/) {}

void QueryPath(const char* path, ShellPathInfo* info) {
    *info = ShellPathInfo{};
    // The device namespace (\\.\NUL, \\.\pipe\name, \\.\COM1) names devices and pipes, which are
    // written through, never replaced; whether such a name exists is for the open to find out.
    if (IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' && IsSeparator(path[3])) {
        info->kind = kShellPathOther;
        return;
    }
    wchar_t wide[kWidePathCapacity];
    const DWORD attributes =
        ToWidePath(path, wide) ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A symbolic link or junction: written through, never replaced.
        info->kind = kShellPathOther;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        info->kind = kShellPathDirectory;
    } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        info->kind = kShellPathOther;
    } else {
        // A file with other names is written in place, so they all see the image.
        const DWORD links = DiskFileLinks(wide);
        info->kind = links == 0 ? kShellPathOther : kShellPathRegular;
        info->links = links;
        info->writable = links != 0 && IsWritable(wide);
    }
}

// Another writer's rename can hold the target for an instant: a refused rename is tried again, a
// pause apart, before the refusal stands (and the target is written in place).
constexpr int kRenameAttempts = 20;
constexpr DWORD kRenamePause = 5; // milliseconds

// Wine's ReplaceFileW is three moves through a file of its own (rf*.tmp) that keep no access list
// or attributes, and with several writers can lose the target for an instant and leave its file
// behind; its MoveFileExW is one rename.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// One try at putting `from` in the place of `to`. For an existing target, a replace that hands on
// its access list and attributes (the identity a Windows file carries, in place of owners and
// permission bits); what it would keep besides is given to the new file first.
int32_t RenameOnce(const wchar_t* from, const wchar_t* to) {
    WIN32_FILE_ATTRIBUTE_DATA target;
    const bool existing = GetFileAttributesExW(to, GetFileExInfoStandard, &target) != 0;
    if (existing) {
        KeepIdentity(from, target);
    }
    if (!existing || UnderWine()) {
        // (The C runtime's rename refuses a target that appeared meanwhile.)
        return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0 ? kShellFileDone
                                                                     : OutcomeOf(GetLastError());
    }
    if (ReplaceFileW(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0) {
        return kShellFileDone;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        return kShellFileFailed; // the new file is missing
    }
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        // The old file is gone already and the new one still has its own name: finish the move.
        return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0 ? kShellFileDone
                                                                     : kShellFileFailed;
    }
    // Both files are as they were. The new one cannot take the old one's place with its identity,
    // so the caller writes the old file in place instead.
    return kShellFileDenied;
}

int32_t FileRename(const char* from, const char* to) {
    wchar_t wideFrom[kWidePathCapacity];
    wchar_t wideTo[kWidePathCapacity];
    if (!ToWidePath(from, wideFrom) || !ToWidePath(to, wideTo)) {
        return kShellFileFailed;
    }
    // A target named by its short (8.3) name is replaced under its long one, which would otherwise
    // stay beside a new short-named file.
    wchar_t longTo[kWidePathCapacity];
    const DWORD longLength = GetLongPathNameW(wideTo, longTo, kWidePathCapacity);
    if (longLength > 0 && longLength < static_cast<DWORD>(kWidePathCapacity)) {
        std::wcscpy(wideTo, longTo);
    }
    int32_t outcome = RenameOnce(wideFrom, wideTo);
    for (int attempt = 1; attempt < kRenameAttempts && outcome == kShellFileDenied; ++attempt) {
        Sleep(kRenamePause);
        outcome = RenameOnce(wideFrom, wideTo);
    }
    return outcome;
}

void FileRemove(const char* path) {
    wchar_t wide[kWidePathCapacity];
    if (ToWidePath(path, wide)) {
        DeleteFileW(wide);
    }
}

// No file without a name here to link.
int32_t FileLink(ShellFile* /*file*/, const char* /*path*/) {
    return kShellFileUnsupported;
}

// Nothing of the target's identity is given beforehand: the replace hands it on (FileRename).
int32_t FileTakeIdentity(ShellFile* /*file*/, const ShellPathInfo* /*target*/) {
    return kShellFileDone;
}

void* Allocate(size_t bytes) {
    return std::malloc(bytes);
}

void Release(void* block) {
    std::free(block);
}

void RandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = std::rand();
    }
}

int32_t WideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "already UTF-16, as the API takes it");
    const wchar_t* source = reinterpret_cast<const wchar_t*>(wide);
    const UINT codePage = GetACP();
    // UTF-8 and UTF-7 take no best-fit flags: every character has a form, and only an unpaired
    // surrogate cannot be held (UTF-8 reports it; UTF-7 takes no flags at all and keeps it as it
    // is). In other code pages, without WC_NO_BEST_FIT_CHARS, look-alikes would become other
    // characters: a fullwidth solidus a real '/', two fullwidth full stops "..", and the path would
    // name another place. With it, anything the code page lacks becomes the default character,
    // which is then reported.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS
                        : unicode           ? 0
                                            : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    const int written = WideCharToMultiByte(codePage, flags, source, -1, narrow, capacity, nullptr,
                                            unicode ? nullptr : &usedDefault);
    const bool inexact = unicode ? written == 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION
                                 : written > 0 && usedDefault;
    return inexact ? -1 : written;
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
    .WideToNarrow = WideToNarrow,
    .HoldWriteSignals = HoldWriteSignals,
    .ReleaseWriteSignals = ReleaseWriteSignals,
};
