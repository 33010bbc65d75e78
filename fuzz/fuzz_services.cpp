#include "fuzz_services.h"

#include "platform/platform_calls.h"
#include "platform/utf16_to_utf8.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// An open file over one in-memory file.
struct ShellFile {
    std::string path; // empty for a file without a name
    bool writing;
    size_t position;   // where reads and writes without an offset go
    FuzzBytes unnamed; // the contents while the file has no name
};

namespace {

FuzzShellState state;

bool FailsNow(int64_t& calls, int64_t failAt) {
    return calls++ == failAt;
}

bool IsDirectory(const std::string& path) {
    return path.empty() || path.back() == '/' || state.files.count(path + "/") != 0;
}

FuzzBytes& ContentsOf(ShellFile* file) {
    return file->path.empty() ? file->unnamed : state.files.at(file->path);
}

// Where a transfer at `offset` starts, moving the file's position past the
// `length` bytes where it goes at the position.
size_t StartOf(ShellFile* file, int64_t offset, size_t length) {
    if (offset != kShellAtPosition) {
        return static_cast<size_t>(offset);
    }
    const size_t start = file->position;
    file->position += length;
    return start;
}

} // namespace

FuzzShellState& FuzzShell() {
    return state;
}

void ResetFuzzShell() {
    state = FuzzShellState{};
}

void FuzzFail(const char* message) {
    std::fprintf(stderr, "invariant broken: %s\n--- printed ---\n%s--- end ---\n", message,
                 state.output.c_str());
    std::abort();
}

int CountErrorLines(const std::string& text) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        count += text.compare(start, 7, "Error: ") == 0;
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return count;
}

namespace {

void Print(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= sizeof line) {
        FuzzFail("a printed line is too long or cannot be formatted");
    }
    state.output += line;
}

int32_t FileOpen(const char* path, int32_t how, ShellFile** file) {
    if (FailsNow(state.openCalls, state.failOpenAt)) {
        return state.createFailure;
    }
    const bool exists = state.files.count(path) != 0;
    switch (how) {
    case kShellOpenRead:
        if (!exists || IsDirectory(path)) {
            return kShellFileFailed;
        }
        break;
    case kShellOpenWrite:
        if (IsDirectory(path)) {
            return kShellFileFailed;
        }
        state.truncations += exists;
        state.files[path].clear();
        break;
    case kShellOpenScratch:
        ++state.unnamedOpen;
        ++state.opens;
        *file = new ShellFile{"", true, 0, {}};
        return kShellFileDone;
    case kShellOpenUnnamed:
        if (!state.unnamedSupported) {
            return kShellFileUnsupported;
        }
        ++state.unnamedOpen;
        ++state.opens;
        *file = new ShellFile{"", true, 0, {}};
        return kShellFileDone;
    default:
        if (exists) {
            return kShellFileExists;
        }
        if (IsDirectory(path)) {
            return kShellFileFailed;
        }
        state.files[path];
        break;
    }
    ++state.opens;
    *file = new ShellFile{path, how != kShellOpenRead, 0, {}};
    return kShellFileDone;
}

int32_t FileClose(ShellFile* file) {
    ++state.closes;
    state.unnamedOpen -= file->writing && file->path.empty();
    delete file;
    return FailsNow(state.closeCalls, state.failCloseAt) ? -1 : 0;
}

// Giving the new file a name, an identity or the target's place: each may
// be made to fail, doing nothing, with `placeFailure`.
int32_t FileLink(ShellFile* file, const char* path) {
    if (FailsNow(state.placeCalls, state.failPlaceAt)) {
        return state.placeFailure;
    }
    if (!file->path.empty() || IsDirectory(path)) {
        return kShellFileFailed;
    }
    if (state.files.count(path) != 0) {
        return kShellFileExists;
    }
    state.files[path] = std::move(file->unnamed);
    file->path = path;
    --state.unnamedOpen;
    return kShellFileDone;
}

int32_t FileTakeIdentity(ShellFile*, const ShellPathInfo*) {
    return FailsNow(state.placeCalls, state.failPlaceAt) ? state.placeFailure : kShellFileDone;
}

int32_t FileRename(const char* from, const char* to) {
    if (FailsNow(state.placeCalls, state.failPlaceAt)) {
        return state.placeFailure;
    }
    if (state.files.count(from) == 0 || IsDirectory(to)) {
        return kShellFileFailed;
    }
    FuzzBytes contents = std::move(state.files.at(from));
    state.files.erase(from);
    state.files[to] = std::move(contents);
    return kShellFileDone;
}

void FileRemove(const char* path) {
    state.files.erase(path);
}

uint32_t HoldWriteSignals() {
    ++state.signalHolds;
    return 0;
}

void ReleaseWriteSignals(uint32_t) {
    ++state.signalReleases;
}

int64_t FileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    *stamp = ShellFileStamp{};
    if (state.hideFileSizes || file->writing) {
        return -1;
    }
    // The in-memory files change only by being cut, which their size shows.
    const size_t size = state.files.at(file->path).size();
    stamp->size = static_cast<int64_t>(size);
    return file->position <= size ? static_cast<int64_t>(size - file->position) : -1;
}

size_t FileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    // The file as it is now: cut since it was opened, a read comes up short.
    // New files are read and written.
    const FuzzBytes& source = ContentsOf(file);
    const size_t start = offset != kShellAtPosition ? static_cast<size_t>(offset) : file->position;
    const size_t available = start < source.size() ? source.size() - start : 0;
    const size_t delivered = length < available ? length : available;
    if (delivered > 0) {
        std::memcpy(destination, source.data() + start, delivered);
    }
    file->position += offset == kShellAtPosition ? delivered : 0;
    return delivered;
}

// Puts `length` bytes of `source` at byte `start` of the file's contents.
void Put(ShellFile* file, const uint8_t* source, size_t length, size_t start) {
    FuzzBytes& bytes = ContentsOf(file);
    if (start + length > bytes.size()) {
        bytes.resize(start + length);
    }
    if (length > 0) {
        std::memcpy(bytes.data() + start, source, length);
    }
}

int64_t FileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to,
                      int64_t toOffset) {
    // From the failing call on, as a platform without the copy would answer.
    const int64_t call = state.copyCalls++;
    if (state.failCopyAt >= 0 && call >= state.failCopyAt) {
        return -1;
    }
    if (!to->writing) {
        FuzzFail("a kernel copy into a file opened for reading");
    }
    const FuzzBytes source = ContentsOf(from);
    const size_t start = static_cast<size_t>(offset);
    const size_t available = start < source.size() ? source.size() - start : 0;
    const size_t copied = length < available ? length : available;
    Put(to, source.data() + start, copied, StartOf(to, toOffset, copied));
    return static_cast<int64_t>(copied);
}

size_t FileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    if (FailsNow(state.writeCalls, state.failWriteAt) || !file->writing) {
        return 0;
    }
    Put(file, static_cast<const uint8_t*>(source), length, StartOf(file, offset, length));
    return length;
}

void FileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    // Only what has been written can be sent on.
    if (!file->writing || offset < 0 || length <= 0 ||
        static_cast<uint64_t>(offset + length) > ContentsOf(file).size()) {
        FuzzFail("writeback asked for bytes not written");
    }
}

void* Allocate(size_t bytes) {
    if (FailsNow(state.allocationCalls, state.failAllocationAt)) {
        return nullptr;
    }
    if (bytes > state.largestAllocation) {
        state.largestAllocation = bytes;
    }
    if (bytes > state.allocationCeiling) {
        return nullptr;
    }
    void* block = std::malloc(bytes);
    state.allocations += block != nullptr;
    return block;
}

void Release(void* block) {
    state.releases += block != nullptr;
    std::free(block);
}

void QueryPath(const char* path, ShellPathInfo* info) {
    *info = ShellPathInfo{};
    if (IsDirectory(path)) {
        info->kind = path[0] == '\0' ? kShellPathMissing : kShellPathDirectory;
    } else if (state.files.count(path) != 0) {
        info->kind = kShellPathRegular;
        info->permissions = 0644;
        info->links = 1;
        info->writable = !FailsNow(state.writableCalls, state.failWritableAt);
    } else {
        info->kind = kShellPathMissing;
    }
}

// The next draw from the fuzz input; the input is cut first at its draw.
int32_t NextDraw() {
    if (static_cast<int64_t>(state.drawsTaken) == state.cutAtDraw) {
        FuzzBytes& input = state.files.at(state.cutPath);
        input.resize(input.size() / 2);
        state.cut = true;
    }
    const size_t at = state.drawsTaken++ * 4;
    if (at + 4 > state.drawBytes) {
        return 0;
    }
    const uint8_t* draw = state.draws + at;
    const uint32_t value =
        draw[0] | (draw[1] << 8) | (draw[2] << 16) | (static_cast<uint32_t>(draw[3] & 0x7F) << 24);
    return static_cast<int32_t>(value);
}

void RandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = NextDraw();
    }
}

} // namespace

// Files in memory under the job's own decisions: the replace the job makes
// runs here as it runs on a real platform.
ShellCalls shell = {
    .Print = Print,
    .FileOpen = FileOpen,
    .FileReadAt = FileReadAt,
    .FileWriteAt = FileWriteAt,
    .FileCopyRange = FileCopyRange,
    .FileStartWriteback = FileStartWriteback,
    .FileRemaining = FileRemaining,
    .FileClose = FileClose,
    .FileLink = FileLink,
    .FileTakeIdentity = FileTakeIdentity,
    .FileRename = FileRename,
    .FileRemove = FileRemove,
    .QueryPath = QueryPath,
    .Allocate = Allocate,
    .Release = Release,
    .RandomDraws = RandomDraws,
    .WideToNarrow = ConvertUtf16ToUtf8,
    .HoldWriteSignals = HoldWriteSignals,
    .ReleaseWriteSignals = ReleaseWriteSignals,
};
