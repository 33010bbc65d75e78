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

// Reads `length` bytes at byte `offset` of a file open for reading, without
// using or moving the stream's position. Returns the bytes read; fewer means
// the file ended early (it may have been cut since it was measured) or could
// not be read.
size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset);
// Copies `length` bytes of `from`, starting at its byte `offset`, onto the end
// of what has been written to `to`, inside the kernel. Returns the bytes
// copied, possibly fewer than asked (0 when nothing could be), or -1 where the
// platform cannot copy between these files.
int64_t ShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to);
// Writes `length` bytes at byte `offset` of the file being written, after
// anything buffered, without moving the stream. Returns the bytes written.
size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset);

// Memory for pixel rows, outside the heap and never backed by a file: its
// pages read as zero and cost nothing until written. `wholeUse` says the block
// will be filled whole at once; it is then aligned to 2 MiB and asks for huge
// pages where the platform has them. Otherwise huge pages are declined, so
// that what is resident stays with the 4 KiB pages actually written. Null on
// failure.
void* ShellReserveStore(size_t bytes, int32_t wholeUse);
// Returns a block from ShellReserveStore; `bytes` as reserved. Accepts null.
void ShellReleaseStore(void* block, size_t bytes);

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
