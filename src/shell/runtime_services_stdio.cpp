// The runtime services every platform shares: the plain C runtime (printing,
// stream reads and writes, the heap and the generator), and the order in which
// a new file is made beside a target and put in its place, over the platform's
// own steps (services_shared.h).
#include "shell/runtime_services.h"
#include "shell/services_shared.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

// glibc 2.35 and later: __libc_single_threaded and _dl_find_object.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 35)
#include <dlfcn.h>
#include <sys/single_threaded.h>
#define PELINDRA_DRAWS_WITHOUT_LOCK 1
#else
#define PELINDRA_DRAWS_WITHOUT_LOCK 0
#endif

void ShellPrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void ShellFlushOutput() {
    std::fflush(stdout);
}

size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file) {
    return std::fread(destination, itemSize, itemCount, Stream(file));
}

size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file) {
    return std::fwrite(source, itemSize, itemCount, Stream(file));
}

int32_t ShellFileClose(ShellFile* file) {
    // A write that failed earlier (a flush before a kernel copy, say) may have
    // lost buffered bytes even if the final flush succeeds.
    const bool failedBefore = std::ferror(Stream(file)) != 0;
    const bool closed = std::fclose(Stream(file)) == 0;
    return closed && !failedBefore ? 0 : -1;
}

size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    return TransferAt(file, destination, nullptr, length, offset);
}

size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    return std::fflush(Stream(file)) != 0 ? 0 : TransferAt(file, nullptr, source, length, offset);
}

void* ShellAllocate(size_t bytes) {
    return std::malloc(bytes);
}

void ShellRelease(void* block) {
    std::free(block);
}

namespace {

#if PELINDRA_DRAWS_WITHOUT_LOCK
// glibc's rand() is random(), which takes a lock around the shared state for
// every value: two atomic operations, most of what a value costs. While the
// process has one thread, nothing else can draw in between, so the values
// are taken from that very state by random_r, which locks nothing. setstate
// hands the state over with the place reached written into it; setstate_r
// reads that place into our record of the state, and writes back the place
// our draws reached; setstate then puts the state back in use from there.
// Returns false, having drawn nothing, should any step be refused.
bool DrawWithoutLock(int32_t* values, int32_t count) {
    // One-word states (the kind that needs no seeding work): one stands in
    // for the shared state while it is borrowed, the other gives our record
    // a state to write its place into when it moves on.
    int32_t standIn[2];
    int32_t start[2];
    random_data standInRecord = {};
    random_data shared = {};
    if (initstate_r(1, reinterpret_cast<char*>(standIn), sizeof standIn, &standInRecord) != 0 ||
        initstate_r(1, reinterpret_cast<char*>(start), sizeof start, &shared) != 0) {
        return false;
    }
    char* const state = setstate(reinterpret_cast<char*>(standIn));
    if (state == nullptr) {
        return false;
    }
    if (setstate_r(state, &shared) != 0) {
        setstate(state);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        random_r(&shared, &values[i]);
    }
    setstate_r(reinterpret_cast<char*>(start), &shared);
    setstate(state);
    return true;
}

// The values are glibc's only while rand() is: a host may put its own rand()
// in front of it (a definition in the program, or a preloaded library), and
// then every value must come from that one. (_dl_find_object looks up the
// loaded object of an address without locking; dladdr would also search its
// symbols, which takes microseconds.)
bool RandIsTheRuntimes() {
    dl_find_object randFrom;
    dl_find_object runtimeFrom;
    return _dl_find_object(reinterpret_cast<void*>(&::rand), &randFrom) == 0 &&
           _dl_find_object(reinterpret_cast<void*>(&::random_r), &runtimeFrom) == 0 &&
           randFrom.dlfo_link_map == runtimeFrom.dlfo_link_map;
}
#endif

} // namespace

void ShellRandomDraws(int32_t* values, int32_t count) {
#if PELINDRA_DRAWS_WITHOUT_LOCK
    if (__libc_single_threaded != 0 && RandIsTheRuntimes() && DrawWithoutLock(values, count)) {
        return;
    }
#endif
    for (int32_t i = 0; i < count; ++i) {
        values[i] = std::rand();
    }
}

size_t DirectoryPartLength(const char* path) {
    size_t length = 0;
    size_t i = 0;
    while (path[i] != '\0') {
#if defined(_WIN32)
        const bool separator = path[i] == '/' || path[i] == '\\' || path[i] == ':';
        const bool lead = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(path[i])) != 0;
        const size_t step = lead && path[i + 1] != '\0' ? 2 : 1;
#else
        const bool separator = path[i] == '/';
        const size_t step = 1;
#endif
        if (separator) {
            length = i + 1;
        }
        i += step;
    }
    return length;
}

namespace {

constexpr int32_t kBesideNameLength = 18; // ".pelindra-" and eight hex digits
// New names tried before giving up on names other writers took.
constexpr int32_t kBesideNameAttempts = 16;

// Puts into `path` a temporary name beside `target`: its directory part and a
// short name from a fresh token, which fits even where the target's own name
// is as long as names go. False, with `path` empty, where the directory part
// leaves no room.
bool PickNameBeside(const char* target, char (&path)[kShellNewFilePathCapacity]) {
    const size_t directory = DirectoryPartLength(target);
    path[0] = '\0';
    if (directory + kBesideNameLength + 1 > sizeof path) {
        return false;
    }
    std::memcpy(path, target, directory);
    std::snprintf(path + directory, kBesideNameLength + 1, ".pelindra-%08x", UniqueToken());
    return true;
}

// Gives `made` a fresh temporary name beside `target`, trying others while
// other writers hold the ones picked: a new private file under it, or where
// `made` has a file already (an unnamed one), that file's name.
int32_t NameBeside(ShellNewFile* made, const char* target) {
    const bool create = made->file == nullptr;
    int32_t outcome = kShellFileFailed;
    for (int32_t attempt = 0; attempt < kBesideNameAttempts; ++attempt) {
        if (!PickNameBeside(target, made->path)) {
            return kShellFileFailed;
        }
        if (create) {
            made->file = CreatePrivate(made->path, &outcome);
        } else {
            outcome = LinkName(made->file, made->path);
        }
        if (outcome != kShellFileExists) {
            break;
        }
    }
    made->named = outcome == kShellFileDone ? 1 : 0;
    return outcome;
}

// Closes the file, and where that fails removes the name it was given.
int32_t CloseNamed(ShellNewFile* made, const char* name) {
    const bool closed = std::fclose(Stream(made->file)) == 0;
    made->file = nullptr;
    if (!closed) {
        RemoveNamed(name);
    }
    made->named = 0;
    return closed ? kShellFileDone : kShellFileFailed;
}

} // namespace

int32_t ShellFileCreateBeside(const char* target, const ShellPathInfo* info, ShellNewFile* made) {
    made->file = nullptr;
    made->named = 0;
    // A temporary name is picked first, so that nothing is made where none
    // would fit; an unnamed file goes into its directory part.
    if (!PickNameBeside(target, made->path)) {
        return kShellFileFailed;
    }
    int32_t outcome = kShellFileUnsupported;
    if (info->unnamedFiles) {
        made->path[DirectoryPartLength(target)] = '\0';
        made->file = CreateUnnamed(made->path, &outcome);
    }
    if (outcome != kShellFileUnsupported || info->appendOnly) {
        made->path[0] = '\0';
        return outcome;
    }
    return NameBeside(made, target);
}

int32_t ShellFilePutInPlace(ShellNewFile* made, const char* target, const ShellPathInfo* info) {
    const bool existing = info->kind == kShellPathRegular;
    const int32_t identity = TakeIdentity(made->file, info);
    if (identity == kShellFileFailed || (identity != kShellFileDone && existing)) {
        ShellFileDiscard(made);
        return identity;
    }
    if (!existing && made->named == 0) {
        // The missing target's name directly: no temporary name to remove,
        // which an append-only directory would refuse.
        const int32_t linked = LinkName(made->file, target);
        if (linked == kShellFileDone) {
            return CloseNamed(made, target);
        }
        if (linked != kShellFileExists || info->appendOnly) {
            ShellFileDiscard(made);
            return kShellFileFailed;
        }
        // Another writer made the target meanwhile: the last one to finish
        // replaces it, as it would replace an older one.
    }
    if (made->named == 0 && NameBeside(made, target) != kShellFileDone) {
        ShellFileDiscard(made);
        return kShellFileFailed;
    }
    if (CloseNamed(made, made->path) != kShellFileDone) {
        return kShellFileFailed;
    }
    const int32_t moved = MoveOver(made->path, target);
    if (moved != kShellFileDone) {
        RemoveNamed(made->path);
    }
    return moved == kShellFileDone || (moved == kShellFileDenied && existing) ? moved
                                                                              : kShellFileFailed;
}

void ShellFileDiscard(ShellNewFile* made) {
    if (made->file != nullptr) {
        std::fclose(Stream(made->file));
        made->file = nullptr;
    }
    if (made->named != 0) {
        RemoveNamed(made->path);
        made->named = 0;
    }
}
