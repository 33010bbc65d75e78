// The runtime services over the Windows C runtime (msvcrt) and the Win32 file
// API: what MorvanePelindra.dll uses when a Windows host loads it.
//
// Narrow paths are in the ANSI code page here, as every "A" function and the
// C runtime's fopen expect them; a character the code page cannot hold becomes
// the code page's default character.
#include "shell/runtime_services.h"
#include "shell/stdio_stream.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace {

bool IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Device names (NUL, COM1, CON) and pipes answer GetFileAttributes like plain
// files; only the type of an open handle tells them apart. They are written
// through rather than replaced, which they could not be.
bool IsDiskFile(const char* path) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return true; // it exists (it has attributes); let the save find out more
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_DISK;
}

} // namespace

ShellFile* ShellFileOpen(const char* path, const char* mode) {
    // The C runtime refuses to open a directory already; asking first keeps the
    // promise without depending on which error it reports.
    if (mode[0] == 'r' && IsDirectory(path)) {
        return nullptr;
    }
    return Wrap(std::fopen(path, mode));
}

ShellFile* ShellFileCreateExclusive(const char* path, int32_t* alreadyExists) {
    *alreadyExists = 0;
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *alreadyExists = (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) ? 1 : 0;
        return nullptr;
    }
    // From here the C runtime owns the handle: closing the stream closes it.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        DeleteFileA(path);
        return nullptr;
    }
    FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
        DeleteFileA(path);
    }
    return Wrap(stream);
}

namespace {

// ReadFile and WriteFile take 32-bit lengths; larger transfers go in pieces.
constexpr size_t kLargestTransfer = 1u << 30;
// Rows copied from one file to another pass through a buffer of this size.
constexpr size_t kCopyBufferBytes = 1u << 20;

HANDLE HandleOf(ShellFile* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(Stream(file))));
}

OVERLAPPED At(int64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return at;
}

// Reads at an offset until `length` bytes, the end of the file or an error.
size_t ReadHandleAt(HANDLE handle, void* destination, size_t length, int64_t offset) {
    size_t done = 0;
    while (done < length) {
        const size_t left = length - done;
        const DWORD wanted = static_cast<DWORD>(left < kLargestTransfer ? left : kLargestTransfer);
        OVERLAPPED at = At(offset + static_cast<int64_t>(done));
        DWORD got = 0;
        if (!ReadFile(handle, static_cast<uint8_t*>(destination) + done, wanted, &got, &at) ||
            got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

// Writes at an offset until `length` bytes or an error.
size_t WriteHandleAt(HANDLE handle, const void* source, size_t length, int64_t offset) {
    size_t done = 0;
    while (done < length) {
        const size_t left = length - done;
        const DWORD wanted = static_cast<DWORD>(left < kLargestTransfer ? left : kLargestTransfer);
        OVERLAPPED at = At(offset + static_cast<int64_t>(done));
        DWORD put = 0;
        if (!WriteFile(handle, static_cast<const uint8_t*>(source) + done, wanted, &put, &at) ||
            put == 0) {
            break;
        }
        done += put;
    }
    return done;
}

} // namespace

size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    const HANDLE handle = HandleOf(file);
    if (handle == INVALID_HANDLE_VALUE) {
        return 0;
    }
    // A read at an offset moves the handle's position, which the stream
    // relies on; it is put back.
    const int64_t position = _lseeki64(_fileno(Stream(file)), 0, SEEK_CUR);
    const size_t done = ReadHandleAt(handle, destination, length, offset);
    if (position >= 0) {
        _lseeki64(_fileno(Stream(file)), position, SEEK_SET);
    }
    return done;
}

// There is no kernel copy between files here: the rows go through a buffer,
// read at their offset and written at the end of what `to` holds.
int64_t ShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to) {
    FILE* output = Stream(to);
    if (std::fflush(output) != 0) {
        return -1;
    }
    const int64_t end = _lseeki64(_fileno(output), 0, SEEK_CUR);
    const HANDLE source = HandleOf(from);
    const HANDLE target = HandleOf(to);
    if (end < 0 || source == INVALID_HANDLE_VALUE || target == INVALID_HANDLE_VALUE) {
        return -1;
    }
    uint8_t* buffer = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, kCopyBufferBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (buffer == nullptr) {
        return -1;
    }
    size_t copied = 0;
    while (copied < length) {
        const size_t left = length - copied;
        const size_t wanted = left < kCopyBufferBytes ? left : kCopyBufferBytes;
        const size_t got =
            ReadHandleAt(source, buffer, wanted, offset + static_cast<int64_t>(copied));
        const size_t put =
            got == 0 ? 0 : WriteHandleAt(target, buffer, got, end + static_cast<int64_t>(copied));
        copied += put;
        if (got < wanted || put < got) {
            break;
        }
    }
    VirtualFree(buffer, 0, MEM_RELEASE);
    // The stream goes on after what was copied.
    if (_fseeki64(output, end + static_cast<int64_t>(copied), SEEK_SET) != 0) {
        return -1;
    }
    return static_cast<int64_t>(copied);
}

size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    FILE* stream = Stream(file);
    if (std::fflush(stream) != 0) {
        return 0;
    }
    const HANDLE handle = HandleOf(file);
    const int64_t position = _lseeki64(_fileno(stream), 0, SEEK_CUR);
    if (handle == INVALID_HANDLE_VALUE || position < 0) {
        return 0;
    }
    const size_t written = WriteHandleAt(handle, source, length, offset);
    // A write at an offset moves the handle's position too.
    return _lseeki64(_fileno(stream), position, SEEK_SET) == position ? written : 0;
}

// Committed pages of a fresh allocation read as zero and are only given
// memory when first touched. Large pages need a privilege a library cannot
// count on, so the block is the same whatever its use.
void* ShellReserveStore(size_t bytes, int32_t /*wholeUse*/) {
    if (bytes == 0) {
        return nullptr;
    }
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ShellReleaseStore(void* block, size_t /*bytes*/) {
    if (block != nullptr) {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}

int64_t ShellFileRemaining(ShellFile* file) {
    struct _stati64 status;
    if (_fstati64(_fileno(Stream(file)), &status) != 0 || (status.st_mode & _S_IFREG) == 0) {
        return -1;
    }
    const int64_t position = _ftelli64(Stream(file));
    if (position < 0 || position > status.st_size) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size) - position;
}

int32_t ShellFileSetPermissions(ShellFile* /*file*/, uint32_t /*permissions*/) {
    // Windows files carry access lists, not permission bits; a replaced file
    // gets the defaults of its directory like any new file there.
    return 0;
}

void ShellQueryPath(const char* path, ShellPathInfo* info) {
    info->kind = kShellPathMissing;
    info->permissions = 0;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A symbolic link or junction: written through, never replaced.
        info->kind = kShellPathOther;
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        info->kind = kShellPathDirectory;
    } else if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0 || !IsDiskFile(path)) {
        info->kind = kShellPathOther;
    } else {
        info->kind = kShellPathRegular;
    }
}

int32_t ShellRenameFile(const char* from, const char* to) {
    // The C runtime's rename refuses an existing target on Windows.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0 ? 0 : -1;
}

int32_t ShellRemoveFile(const char* path) {
    return DeleteFileA(path) != 0 ? 0 : -1;
}

uint32_t ShellUniqueToken() {
    static volatile LONG counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint32_t token = static_cast<uint32_t>(GetCurrentProcessId()) * 2654435761u;
    token ^= static_cast<uint32_t>(now.QuadPart) ^ static_cast<uint32_t>(now.QuadPart >> 32);
    const LONG step = InterlockedIncrement(&counter);
    return token + static_cast<uint32_t>(step) * 0x9E3779B9u;
}

int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    // wchar_t is 16 bits wide on Windows, so the string is already in the
    // form the API takes.
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");
    return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(wide), -1, narrow,
                               capacity, nullptr, nullptr);
}
