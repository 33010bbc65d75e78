#include "fuzz_services.h"

#include "shell/runtime_services.h"
#include "shell/utf16_to_utf8.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// An open stream over one in-memory file.
struct ShellFile {
    std::string path; // empty for a file without a name
    bool writing;
    size_t position;   // read position; writes always append
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

void ShellPrint(const char* format, ...) {
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

void ShellFlushOutput() {}

ShellFile* ShellFileOpen(const char* path, const char* mode) {
    if (FailsNow(state.openCalls, state.failOpenAt) || IsDirectory(path)) {
        return nullptr;
    }
    const bool writing = mode[0] == 'w';
    if (writing) {
        state.truncations += state.files.count(path) != 0;
        state.files[path].clear();
    } else if (state.files.count(path) == 0) {
        return nullptr;
    }
    ++state.opens;
    return new ShellFile{path, writing, 0, {}};
}

int32_t ShellFileCreateBeside(const char* target, const ShellPathInfo* info, ShellNewFile* made) {
    made->file = nullptr;
    made->named = 0;
    made->path[0] = '\0';
    if (FailsNow(state.openCalls, state.failOpenAt)) {
        return state.createFailure;
    }
    const std::string path(target);
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    if (state.unnamedSupported && info->unnamedFiles) {
        ++state.unnamedOpen;
    } else {
        static uint32_t counter = 0;
        std::snprintf(made->path, sizeof made->path, "%s.pelindra-%08x", directory.c_str(),
                      ++counter);
        if (state.files.count(made->path) != 0) {
            return kShellFileExists;
        }
        state.files[made->path];
        made->named = 1;
    }
    ++state.opens;
    made->file = new ShellFile{made->named != 0 ? made->path : "", true, 0, {}};
    return kShellFileDone;
}

void ShellFileDiscard(ShellNewFile* made) {
    if (made->file != nullptr) {
        ++state.closes;
        state.unnamedOpen -= made->named == 0;
        delete made->file;
        made->file = nullptr;
    }
    if (made->named != 0) {
        state.files.erase(made->path);
        made->named = 0;
    }
}

int32_t ShellFilePutInPlace(ShellNewFile* made, const char* target, const ShellPathInfo*) {
    const bool fails = FailsNow(state.placeCalls, state.failPlaceAt);
    if (fails || IsDirectory(target)) {
        ShellFileDiscard(made);
        return fails ? state.placeFailure : kShellFileFailed;
    }
    FuzzBytes contents = std::move(ContentsOf(made->file));
    ShellFileDiscard(made);
    state.files[target] = std::move(contents);
    return kShellFileDone;
}

uint32_t ShellHoldWriteSignals() {
    ++state.signalHolds;
    return 0;
}

void ShellReleaseWriteSignals(uint32_t) {
    ++state.signalReleases;
}

size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file) {
    if (file->writing || itemSize == 0) {
        return 0;
    }
    const FuzzBytes& bytes = state.files.at(file->path);
    const size_t available = bytes.size() - file->position;
    const size_t items = itemCount <= available / itemSize ? itemCount : available / itemSize;
    // Like fread, a short read still delivers the bytes of a partial item.
    const size_t delivered = itemCount * itemSize <= available ? itemCount * itemSize : available;
    if (delivered > 0) {
        std::memcpy(destination, bytes.data() + file->position, delivered);
    }
    file->position += delivered;
    return items;
}

size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file) {
    if (FailsNow(state.writeCalls, state.failWriteAt) || !file->writing) {
        return 0;
    }
    FuzzBytes& bytes = ContentsOf(file);
    const uint8_t* from = static_cast<const uint8_t*>(source);
    bytes.insert(bytes.end(), from, from + itemSize * itemCount);
    return itemCount;
}

int32_t ShellFileClose(ShellFile* file) {
    ++state.closes;
    state.unnamedOpen -= file->writing && file->path.empty();
    delete file;
    return FailsNow(state.closeCalls, state.failCloseAt) ? -1 : 0;
}

int64_t ShellFileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    *stamp = ShellFileStamp{};
    if (state.hideFileSizes || file->writing) {
        return -1;
    }
    // The in-memory files change only by being cut, which their size shows.
    stamp->size = static_cast<int64_t>(state.files.at(file->path).size());
    return static_cast<int64_t>(state.files.at(file->path).size() - file->position);
}

size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    if (file->writing) {
        return 0;
    }
    // The file as it is now: cut since it was opened, a read comes up short.
    const FuzzBytes& source = state.files.at(file->path);
    const size_t start = static_cast<size_t>(offset);
    const size_t available = start < source.size() ? source.size() - start : 0;
    const size_t delivered = length < available ? length : available;
    if (delivered > 0) {
        std::memcpy(destination, source.data() + start, delivered);
    }
    return delivered;
}

int64_t ShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to) {
    // From the failing call on, as a platform without the copy would answer.
    const int64_t call = state.copyCalls++;
    if (state.failCopyAt >= 0 && call >= state.failCopyAt) {
        return -1;
    }
    if (from->writing || !to->writing) {
        FuzzFail("a kernel copy between the wrong streams");
    }
    const FuzzBytes source = state.files.at(from->path);
    const size_t start = static_cast<size_t>(offset);
    const size_t available = start < source.size() ? source.size() - start : 0;
    const size_t copied = length < available ? length : available;
    FuzzBytes& bytes = ContentsOf(to);
    bytes.insert(bytes.end(), source.begin() + static_cast<long>(start),
                 source.begin() + static_cast<long>(start + copied));
    return static_cast<int64_t>(copied);
}

size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    if (FailsNow(state.writeCalls, state.failWriteAt) || !file->writing) {
        return 0;
    }
    FuzzBytes& bytes = ContentsOf(file);
    const size_t end = static_cast<size_t>(offset) + length;
    if (end > bytes.size()) {
        bytes.resize(end);
    }
    std::memcpy(bytes.data() + offset, source, length);
    return length;
}

void ShellFileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    // Only what has been written can be sent on.
    if (!file->writing || offset < 0 || length <= 0 ||
        static_cast<uint64_t>(offset + length) > ContentsOf(file).size()) {
        FuzzFail("writeback asked for bytes not written");
    }
}

void* ShellReserveStore(size_t bytes, bool) {
    // Counted with the heap: a store is memory the job asks for like any other.
    void* block = ShellAllocate(bytes);
    if (block != nullptr) {
        std::memset(block, 0, bytes);
        --state.allocations;
        ++state.stores;
    }
    return block;
}

void ShellReleaseStore(void* block, size_t) {
    if (block != nullptr) {
        ++state.storeReleases;
        std::free(block);
    }
}

// Spoils the bytes, so that rows read after they were given back would not
// pass for the right ones.
void ShellGiveBackStorePages(void* start, size_t bytes) {
    std::memset(start, 0xA5, bytes);
}

void ShellQueryPath(const char* path, ShellPathInfo* info) {
    *info = ShellPathInfo{};
    info->unnamedFiles = true;
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

void* ShellAllocate(size_t bytes) {
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

void ShellRelease(void* block) {
    state.releases += block != nullptr;
    std::free(block);
}

namespace {

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

} // namespace

void ShellRandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = NextDraw();
    }
}

int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    return ConvertUtf16ToUtf8(wide, narrow, capacity);
}
