// Where a saved image goes. An existing regular file is replaced the way a
// careful tool replaces it: the new contents go to a new file beside it, which
// takes the old file's owner, group and permission bits and then its name in
// one rename, so the target is at every moment the old file or the whole new
// one. Where that would change what the name stands for, the file is written
// in place instead, as a plain open for writing would: when the new file
// cannot carry the same identity (owner, group, permission bits, an access
// list), when the file has other names (hard links) that must keep seeing it,
// and when the directory refuses a new name or the rename for a permission
// reason. Nothing is ever done that such an open would
// refuse: a target that cannot be opened for writing is left alone.
//
// The new file has no name while it is written where the file system allows
// (so a process killed part way leaves nothing behind), and gets a temporary
// name only once complete, just before the rename.
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

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
// ordinary character of a file name. The scan steps over whole characters, so
// the second byte of a double-byte character is never taken for a separator.
size_t DirectoryLength(const char* path) {
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; i += ShellCharacterBytes(path + i)) {
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

// The file the new contents are written to, and its temporary name once it has one.
struct NewFile {
    ShellFile* file;
    bool named;
    size_t directoryLength;
    char path[kTemporaryPathCapacity];
};

// Puts a fresh temporary name after the directory part of `made->path`.
void PickTemporaryName(NewFile* made) {
    std::snprintf(made->path + made->directoryLength, kTemporaryNameLength + 1, "%s%08x",
                  kTemporaryPrefix, ShellUniqueToken());
}

// Creates the new file in the target's directory: without a name where the file
// system allows, otherwise under a fresh temporary name, retrying names other
// writers took. Returns the ShellFileOutcome of the attempt that ended it.
int32_t CreateBeside(const char* target, NewFile* made) {
    made->file = nullptr;
    made->named = false;
    made->directoryLength = DirectoryLength(target);
    if (made->directoryLength + kTemporaryNameLength + 1 > kTemporaryPathCapacity) {
        return kShellFileFailed;
    }
    std::memcpy(made->path, target, made->directoryLength);
    made->path[made->directoryLength] = '\0';
    int32_t outcome = kShellFileFailed;
    made->file = ShellFileCreateUnnamed(made->path, &outcome);
    if (outcome != kShellFileUnsupported) {
        return outcome;
    }
    made->named = true;
    for (int32_t attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        PickTemporaryName(made);
        made->file = ShellFileCreatePrivate(made->path, &outcome);
        if (outcome != kShellFileExists) {
            return outcome;
        }
    }
    return outcome;
}

// Gives the complete, still unnamed file a temporary name beside the target.
int32_t NameBeside(NewFile* made) {
    int32_t outcome = kShellFileFailed;
    for (int32_t attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        PickTemporaryName(made);
        outcome = ShellFileLinkName(made->file, made->path);
        if (outcome != kShellFileExists) {
            break;
        }
    }
    made->named = outcome == kShellFileDone;
    return outcome;
}

// Closes the new file and removes its name; an unnamed one vanishes on its own.
void Discard(NewFile* made) {
    ShellFileClose(made->file);
    if (made->named) {
        ShellRemoveFile(made->path);
    }
}

// Writes a new file beside the target and renames it over the target (or to
// the missing target's name), falling back to writing an existing target in
// place where the new file could not stand in for it.
BmpStatus ReplaceThroughNewFile(const char* path, const ShellPathInfo& target, BmpImage* image) {
    const bool existing = target.kind == kShellPathRegular;
    NewFile made;
    const int32_t created = CreateBeside(path, &made);
    if (made.file == nullptr) {
        // Only a directory that refuses new names outright lets the old file
        // be written in place; a full disk, no inodes or no descriptors must
        // not cost the old contents.
        return existing && created == kShellFileDenied ? SaveDirectly(path, image)
                                                       : kBmpCannotCreateOutput;
    }
    if (ShellFileTakeIdentity(made.file, &target) != 0 && existing) {
        Discard(&made);
        return SaveDirectly(path, image);
    }
    const BmpStatus written =
        WritePieces(made.file, image, existing ? kBmpWriteReplacement : kBmpWriteLast);
    if (written != kBmpOk || (!made.named && NameBeside(&made) != kShellFileDone)) {
        Discard(&made);
        return written != kBmpOk ? written : kBmpCannotWriteOutput;
    }
    if (ShellFileClose(made.file) != 0) {
        ShellRemoveFile(made.path);
        return kBmpCannotWriteOutput;
    }
#if defined(_WIN32)
    // Windows will not replace a file that is open, and the target may be the
    // input. Rows not read by now cannot be any more, so if the replace is then
    // refused, writing in place below fails without touching the target.
    CloseBmpInput(image);
#endif
    const int32_t renamed = ShellRenameFile(made.path, path);
    if (renamed == kShellFileDone) {
        return kBmpOk;
    }
    ShellRemoveFile(made.path);
    // A sticky directory refuses to replace another user's file even when the
    // file itself may be written.
    return existing && renamed == kShellFileDenied ? SaveDirectly(path, image)
                                                   : kBmpCannotWriteOutput;
}

BmpStatus SaveByKind(const char* path, BmpImage* image) {
    ShellPathInfo target;
    ShellQueryPath(path, &target);
    if (path[0] == '\0' || target.kind == kShellPathDirectory) {
        return kBmpCannotCreateOutput;
    }
    if (target.kind == kShellPathOther) {
        // Devices, pipes and symbolic links are written through.
        return SaveDirectly(path, image);
    }
    if (target.kind == kShellPathRegular) {
        if (ShellCheckWritable(path) != 0) {
            return kBmpCannotCreateOutput;
        }
        if (target.links > 1 || target.accessList != 0) {
            return SaveDirectly(path, image);
        }
    }
    return ReplaceThroughNewFile(path, target, image);
}

} // namespace

BmpStatus SaveBmpImage(const char* path, BmpImage* image) {
    const uint32_t held = ShellHoldWriteSignals();
    const BmpStatus status = SaveByKind(path, image);
    ShellReleaseWriteSignals(held);
    CloseBmpInput(image);
    PrintBmpError(status, path, 0);
    return status;
}
