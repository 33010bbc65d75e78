// Writing an image's pieces to files, and where a saved image goes: the steps around the drawing.
#pragma once

#include "bmp/bmp_image.h"

// Copies `length` bytes of `from`, at byte `offset` or its position (kShellAtPosition), to `to`, at
// byte `toOffset` or its position: inside the kernel where it can, otherwise through a bounded
// buffer, every byte by an explicit write. `readFailure` when `from` ends early or cannot be read,
// kBmpCannotWriteOutput when a write fails, kBmpCannotAllocatePixels when no buffer can be had.
BmpStatus CopyBytes(ShellFile* from, int64_t offset, ShellFile* to, int64_t toOffset,
                    int64_t length, BmpStatus readFailure);

// Writes `length` bytes at byte `offset` of `file`; true when all were written.
bool WriteBytesAt(ShellFile* file, const void* bytes, int64_t length, int64_t offset);

// The file an image is made in, written at the offsets of the input's bytes. It either holds the
// input's rows already (a stream's scratch file, drawn on where it lies) or is new and empty.
struct BmpOutput {
    ShellFile* file;
    bool holdsRows;
    // A new file that will replace another: ext4 and btrfs push it out inside the rename anyway, so
    // its finished rows are handed on to the disk piece by piece, overlapping that work with the
    // writing; the last piece is left to the rename.
    bool writeBehind;
};

// A file made for a save: open until placed or discarded, and named `path` (a temporary name beside
// the target) while `named`.
inline constexpr size_t kSaveFilePathCapacity = 300;
struct BmpSaveFile {
    ShellFile* file;
    bool named;
    char path[kSaveFilePathCapacity];
};

// A save between BeginSave and FinishSave: the way chosen, the target queried, the image's file.
struct BmpSave {
    int32_t way; // how the target is written (bmp_save.cpp)
    ShellPathInfo target;
    BmpSaveFile made; // the new file or the scratch file, if one was made
    BmpOutput output; // made.file, or a stream's scratch file
};

// Makes the file the image is to be made in for `path`: a new file beside an existing or missing
// regular target, which will take its place; otherwise (a device, a pipe, a file that must keep its
// identity) a scratch file whose contents are written to the target once complete, so that nothing
// reaches it before then. On failure nothing is left behind.
BmpStatus BeginSave(const char* path, BmpImage* image, BmpSave* save);

// Puts the image made in the save's file (`made` says whether making it succeeded) where it
// belongs, or discards it; closes the input.
BmpStatus FinishSave(const char* path, BmpImage* image, BmpSave* save, BmpStatus made);
