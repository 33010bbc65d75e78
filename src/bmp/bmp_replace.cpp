// Where a saved image goes (WayToSave). An existing regular file is replaced
// the way a careful tool replaces it: the new contents go to a new file beside
// it, which after its last write takes the old file's owner, group and
// permission bits (set-ID bits too, and no access list) and then its name in
// one rename, so the target is at every moment the old file or the whole new
// one. Where that would change what the name stands for, the file is written
// in place instead, as a plain open for writing would: when the new file
// cannot carry the same identity, when the file has other names (hard links)
// or an access list, when it is a mount point, and when the directory refuses
// a new name or the rename (for permission, or append-only). Nothing is ever
// done that such an open would refuse: a target that cannot be opened for
// writing is left alone.
//
// The new file has no name while it is written where the file system allows
// (so a process killed part way leaves nothing behind). A new output's file
// then takes its name directly; a replacing one gets a temporary name only
// once complete, just before the rename. Without unnamed files the temporary
// name comes first, except in an append-only directory, which would keep it
// for ever: there a new output is created under its own name.
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
// writers took. Returns the ShellFileOutcome of the attempt that ended it:
// unsupported, with no file, where the file would need a temporary name in a
// directory that would never let it go again (append-only).
int32_t CreateBeside(const char* target, bool appendOnly, NewFile* made) {
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
    if (outcome != kShellFileUnsupported || appendOnly) {
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

// Gives a complete unnamed file the missing target's name directly: no
// temporary name, so nothing is left to remove (an append-only directory would
// refuse to). kShellFileExists when another writer took the name meanwhile,
// with the file still open; otherwise the file is closed and, unless done,
// has no name.
int32_t NameNewOutput(const char* path, NewFile* made) {
    const int32_t linked = ShellFileLinkName(made->file, path);
    if (linked == kShellFileExists) {
        return linked;
    }
    if (ShellFileClose(made->file) == 0) {
        return linked;
    }
    if (linked == kShellFileDone) {
        ShellRemoveFile(path);
    }
    return kShellFileFailed;
}

// Writes a new file beside the target and puts it in the target's place (or
// names it as the missing target), falling back to writing an existing target
// in place where the new file could not stand in for it.
BmpStatus ReplaceThroughNewFile(const char* path, const ShellPathInfo& target, BmpImage* image) {
    const bool existing = target.kind == kShellPathRegular;
    NewFile made;
    const int32_t created = CreateBeside(path, target.appendOnly != 0, &made);
    if (made.file == nullptr) {
        // Only a directory that refuses new names outright lets the old file
        // be written in place, and one that keeps every name lets a new output
        // be created under its own; a full disk, no inodes or no descriptors
        // must not cost the old contents.
        const bool inPlace =
            created == kShellFileUnsupported || (existing && created == kShellFileDenied);
        return inPlace ? SaveDirectly(path, image) : kBmpCannotCreateOutput;
    }
    const BmpStatus written =
        WritePieces(made.file, image, existing ? kBmpWriteReplacement : kBmpWriteLast);
    if (written != kBmpOk) {
        Discard(&made);
        return written;
    }
    // The identity comes after the last write, which would clear set-ID bits.
    const int32_t identity = ShellFileTakeIdentity(made.file, &target);
    if (identity == kShellFileFailed || (identity != kShellFileDone && existing)) {
        Discard(&made);
        return identity == kShellFileFailed ? kBmpCannotWriteOutput : SaveDirectly(path, image);
    }
    // Rows copied from an input that changed meanwhile may be a patchwork.
    const BmpStatus unchanged = CheckInputUnchanged(image);
    if (unchanged != kBmpOk) {
        Discard(&made);
        return unchanged;
    }
    if (!existing && !made.named) {
        const int32_t named = NameNewOutput(path, &made);
        if (named != kShellFileExists) {
            return named == kShellFileDone ? kBmpOk : kBmpCannotWriteOutput;
        }
        if (target.appendOnly != 0) {
            Discard(&made);
            return kBmpCannotWriteOutput;
        }
        // Another writer made the output meanwhile: the last one to finish
        // replaces it, as it would replace an older output.
    }
    if (!made.named && NameBeside(&made) != kShellFileDone) {
        Discard(&made);
        return kBmpCannotWriteOutput;
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
    // file itself may be written, and a mount point cannot be replaced at all.
    return existing && renamed == kShellFileDenied ? SaveDirectly(path, image)
                                                   : kBmpCannotWriteOutput;
}

// How a target is written, by what names it.
enum SaveWay : int32_t {
    kSaveRefused,  // "Cannot create output file", nothing touched
    kSaveDirectly, // opened for writing and truncated, as a plain open would
    kSaveNewFile,  // a new file put in its place
};

SaveWay WayToSave(const char* path, const ShellPathInfo& target) {
    if (path[0] == '\0' || target.kind == kShellPathDirectory) {
        return kSaveRefused;
    }
    if (target.kind == kShellPathOther) {
        return kSaveDirectly; // devices, pipes and symbolic links are written through
    }
    if (target.kind == kShellPathMissing) {
        return kSaveNewFile;
    }
    if (target.writable == 0) {
        return kSaveRefused;
    }
    // Other names, an access list or a mount must keep seeing this very file;
    // an append-only directory would refuse the rename.
    const bool keepsFile = target.links > 1 || target.accessList != 0 || target.mountPoint != 0 ||
                           target.appendOnly != 0;
    return keepsFile ? kSaveDirectly : kSaveNewFile;
}

BmpStatus SaveByKind(const char* path, BmpImage* image) {
    ShellPathInfo target;
    ShellQueryPath(path, &target);
    switch (WayToSave(path, target)) {
    case kSaveRefused:
        return kBmpCannotCreateOutput;
    case kSaveDirectly:
        return SaveDirectly(path, image);
    case kSaveNewFile:
        break;
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
