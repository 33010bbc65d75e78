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
// Number of whole items transferred, as fread/fwrite count them.
size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file);
size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file);
// Closes the stream whatever happens; 0 when everything written reached the file.
int32_t ShellFileClose(ShellFile* file);
// What identifies the contents of an open regular file: which file it is, its
// size and the times of its last change (nanoseconds on POSIX, tenths of microseconds on
// Windows). Another stamp of the same file that differs means it was written
// to, cut or grown meanwhile.
struct ShellFileStamp {
    uint64_t device; // POSIX device and inode; Windows volume serial and file ID
    uint64_t file;
    int64_t size;
    int64_t modified; // last write
    int64_t changed;  // last change of contents or attributes (POSIX ctime)
};
// Bytes between the stream's position and the end of the file, or -1 where the
// stream has no known size (a pipe or device). For a regular file `stamp` is
// filled as well; otherwise it is zeroed.
int64_t ShellFileRemaining(ShellFile* file, ShellFileStamp* stamp);

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
// Asks the system to start writing bytes [offset, offset + length) of a file
// being written on to its disk, without waiting for them to arrive. Advice
// only: where the platform has no such request or refuses it, nothing changes,
// and the bytes go out later as they would have.
void ShellFileStartWriteback(ShellFile* file, int64_t offset, int64_t length);

// Memory for pixel rows, outside the heap and never backed by a file: its
// pages read as zero and cost nothing until written. `filledWhole` says the
// block will be filled whole at once; it is then aligned to 2 MiB and its
// pages are left to the system's policy. Otherwise huge pages are declined, so
// that what is resident stays with the 4 KiB pages actually written. Null on
// failure.
void* ShellReserveStore(size_t bytes, bool filledWhole);
// Returns a block from ShellReserveStore; `bytes` as reserved. Accepts null.
void ShellReleaseStore(void* block, size_t bytes);
// Hands the system back the memory of the whole pages inside [start, start +
// bytes) of a block from ShellReserveStore, bytes the caller will not read
// again: written out, they can become the pages the file system fills with
// them. The bytes of the range are lost (reading them may even fault); the
// rest of the block is untouched and the block is released as before.
// Advice only: where refused, nothing changes.
void ShellGiveBackStorePages(void* start, size_t bytes);

enum ShellPathKind : int32_t {
    kShellPathMissing = 0,
    kShellPathRegular = 1,
    kShellPathDirectory = 2,
    kShellPathOther = 3, // device, pipe, socket or symbolic link
};
struct ShellPathInfo {
    int32_t kind;         // a ShellPathKind
    uint32_t permissions; // permission bits of a regular file
    uint32_t owner;       // of a regular file: its user and group (0 where the
    uint32_t group;       // platform has none)
    uint32_t links;       // of a regular file: how many names it has (at least 1)
    bool accessList;      // a regular file's permissions go beyond its permission
                          // bits (an access list a new file would not get)
    bool writable;        // a regular file could be opened for writing now, as a
                          // plain open would (it is opened without truncating and
                          // closed again, changing nothing)
    bool mountPoint;      // a regular file is mounted over its name (a bind mount):
                          // the name cannot be given to another file
    bool appendOnly;      // the path's directory takes new names but never lets
                          // one be removed or replaced (chattr +a)
    bool unnamedFiles;    // the platform can make a file without a name (the file
                          // system may still refuse)
    uint64_t device;      // which file a regular file is, as a ShellFileStamp
    uint64_t file;        // names it (0 where unknown)
};
// Describes what a path names without following a final symbolic link.
void ShellQueryPath(const char* path, ShellPathInfo* info);

// Heap blocks. ShellRelease accepts null.
void* ShellAllocate(size_t bytes);
void ShellRelease(void* block);

// The next `count` values of the C runtime's pseudo-random generator, in
// order: what as many calls of rand() would return (non-negative integers),
// and the generator left where they would leave it. Never seeded here.
// Quicker where the runtime allows it, for the jobs that draw millions.
void ShellRandomDraws(int32_t* values, int32_t count);

// Converts `wide`, through its terminator, to the narrow encoding (UTF-8 on
// POSIX, the ANSI code page on Windows), writing at most `capacity` bytes.
// Returns the bytes written including the NUL; 0 when the conversion fails as a
// whole or the result does not fit; -1 when the encoding cannot hold the text
// exactly (an unpaired surrogate, a character missing from the code page), so
// that no near miss ever names another file. After 0 or -1 the contents of
// `narrow` are unspecified.
int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity);

// --- Replacing a file -------------------------------------------------------
//
// How the job puts a finished image in place of an existing file without ever
// leaving a half-written one, and without doing what a plain open for writing
// would refuse.

// How making or placing a new file ended.
enum ShellFileOutcome : int32_t {
    kShellFileDone = 0,
    kShellFileDenied = 1,      // refused for permission (EACCES, EPERM), or a name
                               // that cannot be replaced (a mount point: EBUSY, EXDEV)
    kShellFileExists = 2,      // the name is taken (between the platform's own steps)
    kShellFileUnsupported = 3, // the file system cannot do this at all
    kShellFileFailed = 4,      // anything else: no space, no inodes, no descriptors, I/O
};

// A new file written beside a target to take its place. The caller holds the
// record; ShellFileCreateBeside fills it, and ShellFilePutInPlace or
// ShellFileDiscard ends it.
inline constexpr int32_t kShellNewFilePathCapacity = 300;
struct ShellNewFile {
    ShellFile* file;                      // open for binary writing; null when none was made
    int32_t named;                        // 1 while `path` names the file
    char path[kShellNewFilePathCapacity]; // its temporary name beside the target
};

// Creates the new file in the directory of `target`, described by `info`: with
// no name where the platform allows (nobody else can open it, and it vanishes
// with everything written to it if the process dies), otherwise under a fresh
// temporary name, readable and writable by its owner only. A ShellFileOutcome:
// done; denied when the directory refuses new names for permission;
// unsupported, making nothing, where the file would need a temporary name in
// an append-only directory, which would keep it for ever; failed otherwise (no
// space, no inodes, no descriptors).
int32_t ShellFileCreateBeside(const char* target, const ShellPathInfo* info, ShellNewFile* made);
// After the last write, gives the new file the identity of `target` and puts
// it in the target's place. For an existing target: its owner, group and
// permission bits, set-ID bits included, and no access list (one inherited
// from the directory's default is removed), then a rename over it; for a
// missing one, the permissions a new file gets there and the target's name
// directly, or by a rename where another writer took the name meanwhile.
// Whatever is buffered is written first, since a write by a caller without
// the privilege clears set-ID bits. The file is closed and, unless done, its
// temporary name removed. A ShellFileOutcome: done; denied when the new file
// cannot stand in for an existing target and the target should be written in
// place instead (an identity it cannot carry, a rename refused for permission,
// a mount point); failed otherwise, including a failed write or close.
int32_t ShellFilePutInPlace(ShellNewFile* made, const char* target, const ShellPathInfo* info);
// Closes the new file and removes its temporary name, if it has one.
void ShellFileDiscard(ShellNewFile* made);

// While the job writes, the signals a failed write raises (a pipe without a
// reader, the file-size limit) must not kill the calling process: the write
// fails with its error instead. Hold blocks them for the calling thread and
// returns what Release needs to undo exactly that; Release consumes any of them
// that became pending meanwhile (also where the caller had them blocked) and
// unblocks what Hold blocked. The process's signal dispositions are never
// changed. Holds do not nest.
uint32_t ShellHoldWriteSignals();
void ShellReleaseWriteSignals(uint32_t held);
