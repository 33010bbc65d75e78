// The platform services the job uses, and nothing else: console output, files,
// heap blocks, the C runtime's random generator and wide-string handling.
//
// The job never calls the C runtime directly. The library links the real
// implementation (runtime_services_crt.cpp, or runtime_services_win32.cpp on
// Windows); the tests link their own in its
// place to inject random draws, short reads and failed allocations or writes.
#pragma once

#include <cstddef>
#include <cstdint>

struct ShellFile; // an open stream; opaque to the job

// Formatted print to standard output (printf conventions).
void ShellPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Pushes buffered standard output out, so a host that prints too sees lines in order.
void ShellFlushOutput();

// Opens a file in binary mode; mode is "rb" or "wb". Null on failure. A directory
// is never opened for reading.
ShellFile* ShellFileOpen(const char* path, const char* mode);
// Creates a new file for binary writing, failing if the name is taken (then
// *alreadyExists is set to 1). Permissions are the platform default for new files.
ShellFile* ShellFileCreateExclusive(const char* path, int32_t* alreadyExists);
// Number of whole items transferred, as fread/fwrite count them.
size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file);
size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file);
// Closes the stream whatever happens; 0 when everything written reached the file.
int32_t ShellFileClose(ShellFile* file);
// Bytes between the stream's position and the end of the file, or -1 where the
// stream has no known size (a pipe or device).
int64_t ShellFileRemaining(ShellFile* file);
// Copies permission bits onto a file being written; 0 on success.
int32_t ShellFileSetPermissions(ShellFile* file, uint32_t permissions);

// A private, copy-on-write view of part of a regular file. Writing through
// `bytes` changes the process's copy only, never the file. The view holds its
// own reference to the file, so it stays valid after the stream it was made
// from is closed, and keeps reading the same file even if the name is
// replaced. Pages of a large view cost memory only once they are read or
// written; a small one is copied when it is made.
struct ShellFileView {
    uint8_t* bytes;    // the first viewed byte
    void* base;        // start of the mapped region (page aligned)
    size_t baseLength; // length of the mapped region
    int64_t offset;    // file offset of `bytes`
    int32_t handle;    // the view's own reference to the file
};
// Maps `length` bytes starting at the stream's current position. The caller
// has checked that the file holds them. 0 on success; on failure the view is
// empty and nothing is held.
int32_t ShellFileMapView(ShellFile* file, size_t length, ShellFileView* view);
// Releases the mapping and the view's reference. Safe on an empty view.
void ShellFileUnmapView(ShellFileView* view);
// Copies `length` bytes of the viewed file, from `offset` bytes past the view's
// start, onto the end of what has been written to `to`, inside the kernel.
// Returns the bytes copied, possibly fewer than asked (0 when nothing could
// be), or -1 where the platform cannot copy between these files.
int64_t ShellFileCopyFromView(const ShellFileView* view, int64_t offset, size_t length,
                              ShellFile* to);
// Writes `length` bytes at byte `offset` of the file being written, after
// anything buffered, without moving the stream. Returns the bytes written.
size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset);
// Reads `length` bytes of the viewed file from `offset` bytes past the view's
// start into `destination`, without touching the view's pages. Returns the
// bytes read; fewer means the file ended early or could not be read.
size_t ShellFileReadFromView(const ShellFileView* view, int64_t offset, void* destination,
                             size_t length);

enum ShellPathKind : int32_t {
    kShellPathMissing = 0,
    kShellPathRegular = 1,
    kShellPathDirectory = 2,
    kShellPathOther = 3, // device, pipe, socket or symbolic link
};
struct ShellPathInfo {
    int32_t kind;         // a ShellPathKind
    uint32_t permissions; // permission bits of a regular file
};
// Describes what a path names without following a final symbolic link.
void ShellQueryPath(const char* path, ShellPathInfo* info);
// Replaces `to` with `from` in one step; 0 on success.
int32_t ShellRenameFile(const char* from, const char* to);
// 0 on success.
int32_t ShellRemoveFile(const char* path);
// Bytes in the narrow character that starts at `text` (not at its terminator):
// 1 in UTF-8, where no byte of a longer character looks like ASCII, and 2 for
// a double-byte character of a code page like 932, whose second byte can be a
// backslash. Paths are split on these boundaries.
size_t ShellCharacterBytes(const char* text);
// A value that differs between calls and between processes, for naming
// temporary files. Never taken from the random generator, whose sequence
// belongs to the stars.
uint32_t ShellUniqueToken();

// Heap blocks. ShellRelease accepts null.
void* ShellAllocate(size_t bytes);
void ShellRelease(void* block);

// The C runtime's pseudo-random generator: a non-negative integer. Never seeded here.
int32_t ShellRandom();

// Number of 16-bit code units before the terminator.
size_t ShellWideLength(const char16_t* text);
// Converts `wide`, through its terminator, to the narrow encoding (UTF-8 on
// POSIX, the ANSI code page on Windows), writing at most `capacity` bytes. What
// the encoding cannot hold (an unpaired surrogate, a character missing from the
// code page) becomes a default character ('?' in UTF-8). Returns
// the bytes written including the NUL, or 0 when the result does not fit.
int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity);
