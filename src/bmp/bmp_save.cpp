// The save: an image's bytes copied and written, every one by an explicit write or the kernel's
// copy, and where the image goes, decided here once from the path query and what each step of
// making and placing a new file reported. An existing file is replaced by a new file that takes its
// identity and then its name in one rename, so the target is at every moment the old file or the
// whole new one. Where that would change what the name stands for, or the directory refuses it, the
// target is written in place as a plain open would, from an image made whole in a scratch file
// first, so a failed job leaves it untouched. A missing target gets what a plain create gives.
#include "bmp/bmp_save.h"
#include "bmp/bmp_image.h"

#include "platform/path_parts.h"
#include "platform/platform_calls.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Bytes the kernel cannot copy go through a buffer of this size, so a copy holds no more of a file.
constexpr int64_t kCopyChunkBytes = 256 * 1024;

int64_t Advanced(int64_t at, int64_t moved) {
    return at == kShellAtPosition ? at : at + moved;
}

// How a target is written, or what follows a step of writing a new file.
enum SaveWay : int8_t {
    kSaveRefused,       // "Cannot create output file", nothing touched
    kSaveDirectly,      // made in a scratch file, then copied into the target opened
                        // for writing and truncated, as a plain open would
    kSaveNewFile,       // a new file put in its place
    kSaveDone,          // the new file is in the target's place
    kSaveFailed,        // "Cannot write output file": the new file is gone, the target untouched
    kSaveTemporaryName, // go on: give the new file a temporary name, then rename it
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
    if (!target.writable) {
        return kSaveRefused;
    }
    // Other names, an access list or a mount must keep seeing this very file; an append-only
    // directory would refuse the rename.
    const bool keepsFile =
        target.links > 1 || target.accessList || target.mountPoint || target.appendOnly;
    return keepsFile ? kSaveDirectly : kSaveNewFile;
}

// The steps of the new-file way that can end other than done.
enum NewFileStep : int8_t {
    kStepCreate,     // making the new file, unnamed or under a temporary name
    kStepIdentity,   // giving it an existing target's identity
    kStepLink,       // giving an unnamed file a missing target's name
    kStepNameBeside, // giving an unnamed file a temporary name
    kStepRename,     // putting the named file in the target's place
};

inline constexpr int8_t kAnyOutcome = -1;
enum TargetIs : int8_t { kExisting, kMissing, kEither };

// What follows a step that did not end done; the first rule that matches.
struct StepRule {
    NewFileStep step;
    int8_t outcome; // a ShellFileOutcome, or kAnyOutcome
    TargetIs target;
    SaveWay next;
};
constexpr StepRule kStepRules[] = {
    // Only a directory that refuses new names outright lets the old file be written in place, and
    // one that keeps every name (append-only, where a temporary name would stay) lets a new output
    // be created under its own; no space, inodes or descriptors must not cost the old contents.
    {kStepCreate, kShellFileUnsupported, kEither, kSaveDirectly},
    {kStepCreate, kShellFileDenied, kExisting, kSaveDirectly},
    {kStepCreate, kAnyOutcome, kEither, kSaveRefused},
    // An identity the new file cannot carry leaves the target to be written in place.
    {kStepIdentity, kShellFileDenied, kExisting, kSaveDirectly},
    {kStepIdentity, kAnyOutcome, kEither, kSaveFailed},
    // Another writer made the missing target meanwhile: the last one to finish replaces it, as it
    // would replace an older one.
    {kStepLink, kShellFileExists, kMissing, kSaveTemporaryName},
    {kStepLink, kAnyOutcome, kEither, kSaveFailed},
    {kStepNameBeside, kShellFileDenied, kExisting, kSaveDirectly},
    {kStepNameBeside, kAnyOutcome, kEither, kSaveFailed},
    // A sticky directory that refuses to replace another user's file although the file may be
    // written, and a mount point, leave it to be written in place.
    {kStepRename, kShellFileDenied, kExisting, kSaveDirectly},
    {kStepRename, kShellFileBusy, kExisting, kSaveDirectly},
    {kStepRename, kAnyOutcome, kEither, kSaveFailed},
};

SaveWay AfterStep(NewFileStep step, int32_t outcome, bool existing) {
    for (const StepRule& rule : kStepRules) {
        const bool targetMatches = rule.target == kEither || (rule.target == kExisting) == existing;
        if (rule.step == step && (rule.outcome == kAnyOutcome || rule.outcome == outcome) &&
            targetMatches) {
            return rule.next;
        }
    }
    return kSaveFailed;
}

constexpr int32_t kTemporaryNameLength = 18; // ".pelindra-" and eight hex digits
// New names tried before giving up on names other writers took.
constexpr int32_t kTemporaryNameAttempts = 16;

// A value for temporary names that differs between calls, and between processes where the library's
// address or the clocks do (a name another writer holds only costs an attempt); never the stars'
// random generator.
uint32_t FreshToken() {
    static std::atomic<uint32_t> counter{0};
    const auto seed = reinterpret_cast<uintptr_t>(&counter) ^
                      static_cast<uintptr_t>(std::time(nullptr)) ^ (std::clock() * 40503u);
    return static_cast<uint32_t>(seed) * 2654435761u + counter.fetch_add(0x9E3779B9u);
}

// Gives `made` a short fresh name in the target's directory, trying others while other writers hold
// the ones picked: a new file under it (private when it is to replace a file, which it must never
// show wider), or where `made` has a file already (an unnamed one), that file's name.
int32_t NameBeside(BmpSaveFile* made, const char* target, bool existing) {
    const size_t directory = DirectoryPartLength(target);
    if (directory + kTemporaryNameLength + 1 > sizeof made->path) {
        return kShellFileFailed;
    }
    std::memcpy(made->path, target, directory);
    int32_t outcome = kShellFileFailed;
    for (int32_t attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::snprintf(made->path + directory, kTemporaryNameLength + 1, ".pelindra-%08x",
                      FreshToken());
        if (made->file == nullptr) {
            outcome = shell.FileOpen(made->path, existing ? kShellOpenNewPrivate : kShellOpenNew,
                                     &made->file);
        } else {
            outcome = shell.FileLink(made->file, made->path);
        }
        if (outcome != kShellFileExists) {
            break;
        }
    }
    made->named = outcome == kShellFileDone;
    return outcome;
}

// Makes the new file in the target's directory: without a name where the platform allows (nobody
// else can open it, and it vanishes with everything written to it if the process dies), otherwise
// under a temporary name, unless the directory is append-only and would keep that name for ever.
int32_t CreateNewFile(BmpSaveFile* made, const char* target, const ShellPathInfo& info) {
    *made = BmpSaveFile{};
    const size_t directory = DirectoryPartLength(target);
    if (directory >= kSaveFilePathCapacity) {
        return kShellFileFailed;
    }
    std::memcpy(made->path, target, directory);
    made->path[directory] = '\0';
    const int32_t outcome = shell.FileOpen(made->path, kShellOpenUnnamed, &made->file);
    made->path[0] = '\0';
    if (outcome != kShellFileUnsupported || info.appendOnly) {
        return outcome;
    }
    return NameBeside(made, target, info.kind == kShellPathRegular);
}

// Closes the new file and removes its temporary name, if it has one.
void Discard(BmpSaveFile* made) {
    if (made->file != nullptr) {
        shell.FileClose(made->file);
        made->file = nullptr;
    }
    if (made->named) {
        shell.FileRemove(made->path);
        made->named = false;
    }
}

// Closes the new file, whose name is now the missing target's; a close that reports an error (a
// write the system met late) removes that name again.
SaveWay CloseAsTarget(BmpSaveFile* made, const char* target) {
    const bool closed = shell.FileClose(made->file) == 0;
    made->file = nullptr;
    if (!closed) {
        shell.FileRemove(target);
    }
    return closed ? kSaveDone : kSaveFailed;
}

// After the last write: gives the new file the existing target's identity and puts it in the
// target's place, or names it as the missing target. Returns kSaveDone when placed; otherwise what
// to do instead, with the new file left as it is (open, or closed under its temporary name), for
// the caller to write the target from and then discard.
SaveWay PlaceNewFile(BmpSaveFile* made, const char* target, const ShellPathInfo& info) {
    const bool existing = info.kind == kShellPathRegular;
    SaveWay next = kSaveTemporaryName;
    if (existing) {
        const int32_t identity = shell.FileTakeIdentity(made->file, &info);
        next = identity == kShellFileDone ? next : AfterStep(kStepIdentity, identity, existing);
    } else if (!made->named) {
        // The missing target's name directly: no temporary name to remove, which an append-only
        // directory would refuse.
        const int32_t linked = shell.FileLink(made->file, target);
        if (linked == kShellFileDone) {
            return CloseAsTarget(made, target);
        }
        next = info.appendOnly ? kSaveFailed : AfterStep(kStepLink, linked, existing);
    }
    if (next == kSaveTemporaryName && !made->named) {
        const int32_t named = NameBeside(made, target, existing);
        next = named == kShellFileDone ? next : AfterStep(kStepNameBeside, named, existing);
    }
    if (next != kSaveTemporaryName) {
        return next;
    }
    const bool closed = shell.FileClose(made->file) == 0;
    made->file = nullptr;
    if (!closed) {
        return kSaveFailed;
    }
    const int32_t moved = shell.FileRename(made->path, target);
    if (moved == kShellFileDone) {
        made->named = false;
        return kSaveDone;
    }
    return AfterStep(kStepRename, moved, existing);
}

// Opens the target for writing and truncates it, as a plain open would, and copies the finished
// image from `source` to where it stands: a file's start, a pipe or device as it comes.
BmpStatus WriteDirectly(const char* path, ShellFile* source, int64_t length) {
    ShellFile* file = nullptr;
    if (shell.FileOpen(path, kShellOpenWrite, &file) != kShellFileDone) {
        return kBmpCannotCreateOutput;
    }
    const BmpStatus written =
        CopyBytes(source, 0, file, kShellAtPosition, length, kBmpCannotWriteOutput);
    const bool closed = shell.FileClose(file) == 0;
    return written == kBmpOk && !closed ? kBmpCannotWriteOutput : written;
}

// What a way that ends the save reports.
BmpStatus StatusOf(SaveWay way) {
    return way == kSaveDone      ? kBmpOk
           : way == kSaveRefused ? kBmpCannotCreateOutput
                                 : kBmpCannotWriteOutput;
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
    // In the kernel while it moves bytes; unsupported, failed or stopped, the reads below either do
    // the job or find out why. Nothing written is lost, as every piece goes to its own offset. A
    // stream is read as it comes.
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

BmpStatus BeginSave(const char* path, BmpImage* image, BmpSave* save) {
    *save = BmpSave{};
    shell.QueryPath(path, &save->target);
    const bool existing = save->target.kind == kShellPathRegular;
    SaveWay way = WayToSave(path, save->target);
    if (way == kSaveNewFile) {
        const int32_t created = CreateNewFile(&save->made, path, save->target);
        way = created == kShellFileDone ? way : AfterStep(kStepCreate, created, existing);
    }
    if (way == kSaveDirectly && image->streamed) {
        save->output = {image->input, true, false};
    } else if (way == kSaveDirectly &&
               shell.FileOpen("", kShellOpenScratch, &save->made.file) != kShellFileDone) {
        way = kSaveRefused;
    }
    save->way = way;
    if (way != kSaveNewFile && way != kSaveDirectly) {
        Discard(&save->made);
        return StatusOf(way);
    }
    if (save->made.file != nullptr) {
        save->output = {save->made.file, false, way == kSaveNewFile && existing};
    }
    return kBmpOk;
}

BmpStatus FinishSave(const char* path, BmpImage* image, BmpSave* save, BmpStatus made) {
    // Rows copied from an input that changed meanwhile may be a patchwork.
    BmpStatus status = made == kBmpOk ? CheckInputUnchanged(image) : made;
    const int64_t length = image->pixelOffset + image->pixelBytes;
    // The image is whole now. The input, which may be the target, is closed before the target is
    // touched (Windows will not replace an open file), unless the image was made in it.
    if (!save->output.holdsRows) {
        CloseBmpInput(image);
    }
    if (status == kBmpOk && save->way == kSaveDirectly) {
        status = WriteDirectly(path, save->output.file, length);
    } else if (status == kBmpOk) {
        const SaveWay next = PlaceNewFile(&save->made, path, save->target);
        BmpSaveFile* left = &save->made;
        if (next == kSaveDirectly && left->file == nullptr && left->named &&
            shell.FileOpen(left->path, kShellOpenRead, &left->file) != kShellFileDone) {
            status = kBmpCannotWriteOutput;
        } else {
            status =
                next == kSaveDirectly ? WriteDirectly(path, left->file, length) : StatusOf(next);
        }
    }
    Discard(&save->made);
    CloseBmpInput(image);
    return status;
}
