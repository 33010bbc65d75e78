#include "test_shell.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TestShellState state;
// The platform's own calls, as the library set them up.
const ShellCalls real = shell;

// True when this call (of a kind counted by `calls`) is the one told to fail.
bool FailsNow(int64_t& calls, int64_t failAt) {
    return calls++ == failAt;
}

// How many of `wanted` bytes a read may still deliver under the read limit.
size_t Readable(size_t wanted) {
    if (state.readableBytes < 0) {
        return wanted;
    }
    const int64_t left = state.readableBytes - state.readBytes;
    return static_cast<int64_t>(wanted) > left ? static_cast<size_t>(left > 0 ? left : 0) : wanted;
}

// Cuts the file as another writer would, or with a negative cut length
// rewrites it in place at the same size, every byte after the headers changed.
// A rewrite waits out a tick of the coarsest file-system clock first, so that
// the file's times show it as they would for a later writer. 0 on success.
int ChangeInput() {
    if (state.cutLength >= 0) {
        return truncate(state.cutPath.c_str(), state.cutLength);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::FILE* file = std::fopen(state.cutPath.c_str(), "r+b");
    if (file == nullptr) {
        return -1;
    }
    std::vector<unsigned char> bytes(1 << 20);
    const size_t length = std::fread(bytes.data(), 1, bytes.size(), file);
    for (size_t i = 54; i < length; ++i) {
        bytes[i] ^= 0xFF;
    }
    const bool rewritten =
        std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(bytes.data(), 1, length, file) == length;
    return std::fclose(file) == 0 && rewritten ? 0 : -1;
}

// Changes the input as another writer would, mid-job.
void CutFile() {
    if (!state.cutFromChild) {
        ASSERT_EQ(ChangeInput(), 0);
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(ChangeInput() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // Judged by the file, not the child's status, which a memory checker
    // running both processes may override.
    struct stat cut;
    ASSERT_EQ(stat(state.cutPath.c_str(), &cut), 0);
    if (state.cutLength >= 0) {
        ASSERT_EQ(cut.st_size, state.cutLength);
    }
}

void Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line(static_cast<size_t>(length), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, arguments);
    va_end(arguments);
    state.output += line;
    if (state.echo) {
        std::fputs(line.c_str(), stdout);
    }
}

int32_t FileOpen(const char* path, int32_t how, ShellFile** file) {
    if (FailsNow(state.openCalls, state.failOpenAt)) {
        return state.createFailure;
    }
    if (how == kShellOpenUnnamed && state.unnamedUnsupported) {
        return kShellFileUnsupported;
    }
    const int32_t outcome = real.FileOpen(path, how, file);
    state.opens += outcome == kShellFileDone;
    return outcome;
}

// Putting the new file in place: each of its calls may be made to fail,
// doing nothing, with `placeFailure`.
int32_t FileLink(ShellFile* file, const char* path) {
    return FailsNow(state.placeCalls, state.failPlaceAt) ? state.placeFailure
                                                         : real.FileLink(file, path);
}

int32_t FileTakeIdentity(ShellFile* file, const ShellPathInfo* target) {
    return FailsNow(state.placeCalls, state.failPlaceAt) ? state.placeFailure
                                                         : real.FileTakeIdentity(file, target);
}

int32_t FileRename(const char* from, const char* to) {
    return FailsNow(state.placeCalls, state.failPlaceAt) ? state.placeFailure
                                                         : real.FileRename(from, to);
}

void FileRemove(const char* path) {
    real.FileRemove(path);
}

uint32_t HoldWriteSignals() {
    ++state.signalHolds;
    return real.HoldWriteSignals();
}

void ReleaseWriteSignals(uint32_t held) {
    ++state.signalReleases;
    real.ReleaseWriteSignals(held);
}

size_t FileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    ++state.readAtCalls;
    const size_t got = real.FileReadAt(file, destination, Readable(length), offset);
    state.readBytes += static_cast<int64_t>(got);
    return got;
}

// A failed write writes nothing; a short one writes half of what it was
// given, as a disk that fills part way does.
size_t FileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    const int64_t call = state.writeCalls++;
    if (call == state.failWriteAt) {
        return 0;
    }
    if (call == state.shortWriteAt) {
        return real.FileWriteAt(file, source, length / 2, offset);
    }
    return real.FileWriteAt(file, source, length, offset);
}

int32_t FileClose(ShellFile* file) {
    ++state.closes;
    int32_t result = real.FileClose(file);
    return FailsNow(state.closeCalls, state.failCloseAt) ? -1 : result;
}

int64_t FileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    const int64_t remaining = real.FileRemaining(file, stamp);
    return state.hideFileSizes ? -1 : remaining;
}

int64_t FileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to,
                      int64_t toOffset) {
    const int64_t call = state.copyCalls++;
    if (state.failCopyAt >= 0 && call >= state.failCopyAt) {
        return -1;
    }
    if (call == state.copyStallAt) {
        return 0;
    }
    if (state.copyLimit >= 0 && static_cast<int64_t>(length) > state.copyLimit) {
        length = static_cast<size_t>(state.copyLimit);
    }
    const int64_t copied = real.FileCopyRange(from, offset, length, to, toOffset);
    state.copiedBytes += copied > 0 ? copied : 0;
    return copied;
}

void FileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    state.writebacks.push_back({offset, length});
    real.FileStartWriteback(file, offset, length);
}

void QueryPath(const char* path, ShellPathInfo* info) {
    real.QueryPath(path, info);
    info->mountPoint = !state.hideMountPoints && info->mountPoint;
    if (info->kind == kShellPathRegular && FailsNow(state.writableCalls, state.failWritableAt)) {
        info->writable = false;
    }
}

void* Allocate(size_t bytes) {
    if (FailsNow(state.allocationCalls, state.failAllocationAt)) {
        return nullptr;
    }
    void* block = real.Allocate(bytes);
    state.allocations += block != nullptr;
    // Requests past INT64_MAX (a negative size converted) must count as the
    // largest, not wrap to a negative number that records nothing.
    const int64_t requested =
        bytes > static_cast<size_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
    if (requested > state.largestAllocation) {
        state.largestAllocation = requested;
    }
    return block;
}

void Release(void* block) {
    state.releases += block != nullptr;
    real.Release(block);
}

// The next draw: a configured one, or the real generator's.
int32_t NextDraw() {
    if (static_cast<int64_t>(state.drawsTaken) == state.cutAtDraw) {
        CutFile();
    }
    if (state.draws.empty()) {
        ++state.drawsTaken;
        int32_t value = 0;
        real.RandomDraws(&value, 1);
        return value;
    }
    size_t index = state.drawsTaken++;
    if (state.repeatDraws) {
        index %= state.draws.size();
    } else if (index >= state.draws.size()) {
        ADD_FAILURE() << "the job took more random draws than the test provided";
        return 0;
    }
    return state.draws[index];
}

// One draw at a time, so that configured draws and cuts apply to each.
void RandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = NextDraw();
    }
}

int32_t WideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    if (FailsNow(state.conversionCalls, state.failConversionAt)) {
        return 0;
    }
    return real.WideToNarrow(wide, narrow, capacity);
}

// Every call the job makes goes through the substitute; files and paths
// reach the platform's own calls underneath.
const ShellCalls kSubstitute = {
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
    .WideToNarrow = WideToNarrow,
    .HoldWriteSignals = HoldWriteSignals,
    .ReleaseWriteSignals = ReleaseWriteSignals,
};

} // namespace

TestShellState& TestShell() {
    return state;
}

void ResetTestShell() {
    state = TestShellState{};
    shell = kSubstitute;
}

const ShellCalls& RealShell() {
    return real;
}
