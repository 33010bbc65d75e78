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

// Writes every piece and closes the file, whatever happens; true when all of it
// reached the file.
bool WriteAndClose(ShellFile* file, const BmpImage* image) {
    bool written =
        WriteAll(file, image->fileHeader, kBmpFileHeaderSize) &&
        WriteAll(file, image->infoHeader, kBmpInfoHeaderSize) &&
        (image->gapBlock == nullptr || WriteAll(file, image->gapBlock, image->gapLength)) &&
        WriteAll(file, image->pixels, image->pixelBytes);
    bool closed = ShellFileClose(file) == 0;
    return written && closed;
}

// For targets that cannot be replaced by a rename: devices, pipes, links, or a
// file in a directory where nothing new may be created.
BmpStatus SaveDirectly(const char* path, const BmpImage* image) {
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
