// The platform services the job uses, and nothing else. Each call does what it
// is asked and reports what happened; bmp/ decides how a file is written or
// replaced. The job makes them through one table, `shell`; tests and fuzzers
// replace single entries, so that the job's own decisions run above the
// injected failure. The files of this folder:
//   posix_calls.cpp          the table on Linux (descriptors, glibc)
//   draws_without_lock.cpp   rand()'s values on glibc without its lock
//   windows_calls.cpp        the table on Windows (msvcrt descriptors, Win32)
//   path_parts_*.cpp         a path's directory part, as each platform reads it
//   utf16_to_utf8.cpp        the exact conversion the POSIX table's paths take
#pragma once

#include <cstddef>
#include <cstdint>

struct ShellFile; // an open file, read and written without buffering; opaque to the job

// What identifies the contents of an open regular file (times in nanoseconds on POSIX, tenths of
// microseconds on Windows). A later stamp that differs means the file was written to, cut or grown.
struct ShellFileStamp {
    uint64_t device; // POSIX device and inode; Windows volume serial and file ID
    uint64_t file;
    int64_t size;
    int64_t modified; // last write
    int64_t changed;  // last change of contents or attributes (POSIX ctime)
};

enum ShellPathKind : int32_t {
    kShellPathMissing = 0,
    kShellPathRegular = 1,
    kShellPathDirectory = 2,
    kShellPathOther = 3, // device, pipe, socket or symbolic link
};
struct ShellPathInfo {
    int32_t kind;         // a ShellPathKind
    uint32_t permissions; // permission bits of a regular file
    uint32_t owner;       // of a regular file (0 where the platform has none)
    uint32_t group;
    uint32_t links;  // of a regular file: how many names it has (at least 1)
    bool accessList; // a regular file has an access list a new file would not get
    bool writable;   // a plain open for writing would succeed now (tried
                     // without truncating, changing nothing)
    bool mountPoint; // a regular file is mounted over its name (a bind mount):
                     // the name cannot be given to another file
    bool appendOnly; // the directory never lets a name be removed or replaced
};

// How a call that makes, names or moves a file ended.
enum ShellFileOutcome : int32_t {
    kShellFileDone = 0,
    kShellFileDenied = 1,      // refused for permission (EACCES, EPERM)
    kShellFileExists = 2,      // the name is taken
    kShellFileBusy = 3,        // the name is in use by a mount, or on another device
    kShellFileUnsupported = 4, // the platform or file system cannot do this at all
    kShellFileFailed = 5,      // anything else: no space, no inodes, no descriptors, I/O
};

// What FileOpen is asked for. A new file is opened for reading too, so that rows written to it can
// be read back and drawn on again.
enum ShellOpenHow : int32_t {
    kShellOpenRead = 0,       // an existing file (never a directory), read from its start
    kShellOpenWrite = 1,      // created or truncated for writing, as a plain open would
    kShellOpenUnnamed = 2,    // a new file without a name in the directory `path` ("" for
                              // the current one), with what a plain create gives there
    kShellOpenNew = 3,        // a new file at `path`, with what a plain create gives
                              // there; the name taken is kShellFileExists
    kShellOpenNewPrivate = 4, // the same, readable and writable by its owner only
    kShellOpenScratch = 5,    // a new file without a name in the temporary folder
                              // (`path` unused), for its owner only; gone when closed
};

// An offset that stands for the file's own position: the transfer starts there and moves it on, as
// a plain read or write does (pipes, devices).
inline constexpr int64_t kShellAtPosition = -1;

// The calls. Every entry is set.
struct ShellCalls {
    // Formatted print to standard output (printf conventions), pushed out at once, so that a host
    // that prints too sees the lines in order.
    void (*Print)(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Opens `path` as `how` (a ShellOpenHow) says. A ShellFileOutcome; *file is set only when done.
    int32_t (*FileOpen)(const char* path, int32_t how, ShellFile** file);
    // Reads `length` bytes at byte `offset` (or kShellAtPosition) until all are there, the file
    // ends or a read fails (fewer than asked). An offset leaves the position unspecified.
    size_t (*FileReadAt)(ShellFile* file, void* destination, size_t length, int64_t offset);
    // Writes `length` bytes at byte `offset` (or kShellAtPosition) until they are all written or a
    // write fails; nothing is held back for later.
    size_t (*FileWriteAt)(ShellFile* file, const void* source, size_t length, int64_t offset);
    // Copies `length` bytes of `from`, from byte `offset`, to byte `toOffset` of `to` (or its
    // position), inside the kernel. Returns the bytes copied, maybe fewer than asked (0 when none
    // could be), or -1 where the platform cannot copy between these files or the copy failed.
    int64_t (*FileCopyRange)(ShellFile* from, int64_t offset, size_t length, ShellFile* to,
                             int64_t toOffset);
    // Asks the system to start writing bytes [offset, offset + length) of a file to disk, without
    // waiting. Advice only: where the platform lacks or refuses it, the bytes go out later anyway.
    void (*FileStartWriteback)(ShellFile* file, int64_t offset, int64_t length);
    // Bytes between the file's position and its end, or -1 where the file has no known size (a pipe
    // or device). For a regular file `stamp` is filled as well; otherwise it is zeroed.
    int64_t (*FileRemaining)(ShellFile* file, ShellFileStamp* stamp);
    // Closes the file whatever happens; 0 when the system reported no error.
    int32_t (*FileClose)(ShellFile* file);
    // Gives a file opened kShellOpenUnnamed the name `path`, failing with kShellFileExists if the
    // name is taken. A ShellFileOutcome.
    int32_t (*FileLink)(ShellFile* file, const char* path);
    // Gives a new file an existing target's owner, group and permission bits (set-ID bits too) and
    // no access list (a default one inherited is removed), and reads back that it holds: done,
    // denied where it cannot be carried, or failed. After the last write, which clears set-ID bits.
    int32_t (*FileTakeIdentity)(ShellFile* file, const ShellPathInfo* target);
    // Puts the closed file `from` in the place of `to` in one step (on Windows handing on the
    // access list of an existing `to`); `from` stays unless done.
    int32_t (*FileRename)(const char* from, const char* to);
    // Removes the name `path`.
    void (*FileRemove)(const char* path);
    // Describes what a path names without following a final symbolic link.
    void (*QueryPath)(const char* path, ShellPathInfo* info);

    // Heap blocks. Release accepts null.
    void* (*Allocate)(size_t bytes);
    void (*Release)(void* block);

    // The next `count` values of the C runtime's generator: what as many calls of rand() would
    // return, the generator left where they would leave it. Never seeded here. Quicker where the
    // runtime allows it, for the jobs that draw millions.
    void (*RandomDraws)(int32_t* values, int32_t count);

    // Converts `wide`, through its terminator, to the narrow encoding (UTF-8 on POSIX, the ANSI
    // code page on Windows), writing at most `capacity` bytes. Returns the bytes written including
    // the NUL; 0 when the conversion fails as a whole or the result does not fit; -1 when the
    // encoding cannot hold the text exactly (an unpaired surrogate, a character missing from the
    // code page), so no near miss ever names another file. After 0 or -1, `narrow` is unspecified.
    int32_t (*WideToNarrow)(const char16_t* wide, char* narrow, int32_t capacity);

    // While the job runs, the signals a failed write raises (a pipe without a reader, the file-size
    // limit) must not kill the calling process: the write fails with its error instead. Hold blocks
    // them for the calling thread and returns what Release needs to undo exactly that; Release
    // consumes any of them that became pending meanwhile (also where the caller had them blocked)
    // and unblocks what Hold blocked; one that was pending before the hold stays pending. The
    // process's signal dispositions are never changed. Holds do not nest.
    uint32_t (*HoldWriteSignals)();
    void (*ReleaseWriteSignals)(uint32_t held);
};

// The calls in use, from the platform's file; tests replace entries between jobs, never during one.
extern ShellCalls shell;
