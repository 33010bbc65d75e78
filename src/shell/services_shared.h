// What the runtime services' source files share among themselves: the job's
// streams, the whole pages of a byte range, and the steps of making and
// replacing a file that each platform takes its own way, put in order once
// in runtime_services_stdio.cpp.
#pragma once

#include "shell/runtime_services.h"

#include <cstdint>
#include <cstdio>

// The job's streams are C runtime FILE streams on every platform.
inline FILE* Stream(ShellFile* file) {
    return reinterpret_cast<FILE*>(file);
}

inline ShellFile* Wrap(FILE* stream) {
    return reinterpret_cast<ShellFile*>(stream);
}

// The whole pages inside a byte range, for the calls that give memory back:
// they act on whole pages, and a range that only touches a page would take all
// of it, bytes still wanted included.
struct WholePages {
    uintptr_t from;
    uintptr_t to; // from == to: the range holds no whole page
};

// `page` is the system's page size, a power of two.
inline WholePages WholePagesInside(const void* start, size_t bytes, uintptr_t page) {
    const uintptr_t first = reinterpret_cast<uintptr_t>(start);
    if (first > UINTPTR_MAX - bytes || first > UINTPTR_MAX - (page - 1)) {
        return {0, 0};
    }
    const uintptr_t from = (first + page - 1) & ~(page - 1);
    const uintptr_t to = (first + bytes) & ~(page - 1);
    return from < to ? WholePages{from, to} : WholePages{0, 0};
}

// Length of the directory part of `path`, separator included. Windows also
// takes backslashes and a drive prefix ("C:name"), and steps over whole
// characters of a double-byte code page like 932, whose second byte can be a
// backslash; elsewhere a backslash is an ordinary character of a file name.
size_t DirectoryPartLength(const char* path);

// Reads into `destination`, or where it is null writes `source`, at byte
// `offset` of the stream's file until `length` bytes, the end of the file or an
// error, leaving the stream where it was. Each platform's own.
size_t TransferAt(ShellFile* file, void* destination, const void* source, size_t length,
                  int64_t offset);

// --- The platform's steps of making and replacing a file --------------------
//
// Outcomes are ShellFileOutcome values.

// A value that differs between calls and between processes, for temporary
// names. Never taken from the random generator, whose sequence belongs to
// the stars.
uint32_t UniqueToken();
// A file without a name in `directory` ("" for the current one), with the
// permissions a new file gets there; unsupported where there are none.
ShellFile* CreateUnnamed(const char* directory, int32_t* outcome);
// A new file at `path` that only its owner may read and write, failing if the
// name is taken.
ShellFile* CreatePrivate(const char* path, int32_t* outcome);
// Gives an unnamed file the name `path`, failing if the name is taken.
int32_t LinkName(ShellFile* file, const char* path);
// Gives the file what the platform gives it of the identity
// ShellFilePutInPlace describes before it takes the target's place. Done,
// denied when it cannot be carried, or failed when what was buffered cannot
// be written.
int32_t TakeIdentity(ShellFile* file, const ShellPathInfo* target);
// Puts the closed file named `from` in the place of `target`: done, denied
// where it cannot stand in for an existing target, or another outcome.
int32_t MoveOver(const char* from, const char* target);
// Removes the file a temporary name stands for.
void RemoveNamed(const char* path);
