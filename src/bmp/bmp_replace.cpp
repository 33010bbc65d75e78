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
// writing is left alone. How the new file is made, named and put in place is
// the platform's (ShellFileCreateBeside, ShellFilePutInPlace).
#include "bmp/bmp_image.h"
#include "bmp/bmp_write.h"

#include "shell/runtime_services.h"

namespace {

// Writes a new file beside the target and puts it in the target's place (or
// names it as the missing target), falling back to writing an existing target
// in place where the new file could not stand in for it.
BmpStatus ReplaceThroughNewFile(const char* path, const ShellPathInfo& target, BmpImage* image) {
    const bool existing = target.kind == kShellPathRegular;
    ShellNewFile made;
    const int32_t created = ShellFileCreateBeside(path, &target, &made);
    if (created != kShellFileDone) {
        // Only a directory that refuses new names outright lets the old file
        // be written in place, and one that keeps every name lets a new output
        // be created under its own; a full disk, no inodes or no descriptors
        // must not cost the old contents.
        const bool inPlace =
            created == kShellFileUnsupported || (existing && created == kShellFileDenied);
        return inPlace ? SaveDirectly(path, image) : kBmpCannotCreateOutput;
    }
    // A replacing file's rows are written behind and kept for a write in
    // place; a new output's file is the image's last write.
    const BmpStatus written = WritePieces(BmpOutput{made.file, existing, !existing}, image);
    // Rows copied from an input that changed meanwhile may be a patchwork.
    const BmpStatus status = written != kBmpOk ? written : CheckInputUnchanged(image);
    if (status != kBmpOk) {
        ShellFileDiscard(&made);
        return status;
    }
#if defined(_WIN32)
    // Windows will not replace a file that is open. Where the target is the
    // input itself, the rows not read yet are read now and the input closed,
    // so that a refused replace can still write it in place; any other input
    // stays open for that write.
    const bool inputIsTarget = image->held == kBmpRowsOnDemand &&
                               image->inputStamp.device == target.device &&
                               image->inputStamp.file == target.file;
    const BmpStatus loaded = inputIsTarget ? LoadRemainingPixels(image) : kBmpOk;
    if (loaded != kBmpOk) {
        ShellFileDiscard(&made);
        return loaded;
    }
#endif
    const int32_t placed = ShellFilePutInPlace(&made, path, &target);
    if (placed == kShellFileDone) {
        return kBmpOk;
    }
    // An identity the new file cannot carry, a sticky directory that refuses
    // to replace another user's file although the file may be written, and a
    // mount point leave the target to be written in place.
    return existing && placed == kShellFileDenied ? SaveDirectly(path, image)
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
    if (!target.writable) {
        return kSaveRefused;
    }
    // Other names, an access list or a mount must keep seeing this very file;
    // an append-only directory would refuse the rename.
    const bool keepsFile =
        target.links > 1 || target.accessList || target.mountPoint || target.appendOnly;
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
