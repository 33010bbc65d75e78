#include "test_shell.h"

#include "real_services.h"

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

} // namespace

TestShellState& TestShell() {
    return state;
}

void ResetTestShell() {
    state = TestShellState{};
}

void ShellPrint(const char* format, ...) {
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

void ShellFlushOutput() {
    ++state.flushes;
}

ShellFile* ShellFileOpen(const char* path, const char* mode) {
    if (FailsNow(state.openCalls, state.failOpenAt)) {
        return nullptr;
    }
    ShellFile* file = RealShellFileOpen(path, mode);
    state.opens += file != nullptr;
    return file;
}

int32_t ShellFileCreateBeside(const char* target, const ShellPathInfo* info, ShellNewFile* made) {
    if (FailsNow(state.openCalls, state.failOpenAt)) {
        made->file = nullptr;
        made->named = 0;
        return state.createFailure;
    }
    const int32_t outcome = RealShellFileCreateBeside(target, info, made);
    state.opens += made->file != nullptr;
    return outcome;
}

int32_t ShellFilePutInPlace(ShellNewFile* made, const char* target, const ShellPathInfo* info) {
    ++state.closes;
    if (FailsNow(state.placeCalls, state.failPlaceAt)) {
        RealShellFileDiscard(made);
        return state.placeFailure;
    }
    return RealShellFilePutInPlace(made, target, info);
}

void ShellFileDiscard(ShellNewFile* made) {
    state.closes += made->file != nullptr;
    RealShellFileDiscard(made);
}

uint32_t ShellHoldWriteSignals() {
    ++state.signalHolds;
    return RealShellHoldWriteSignals();
}

void ShellReleaseWriteSignals(uint32_t held) {
    ++state.signalReleases;
    RealShellReleaseWriteSignals(held);
}

size_t ShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file) {
    const size_t wanted = itemSize * itemCount;
    if (Readable(wanted) < wanted) {
        // Deliver what is left, then stop as at the end of a file.
        size_t got = RealShellFileRead(destination, 1, Readable(wanted), file);
        state.readBytes += static_cast<int64_t>(got);
        return got / itemSize;
    }
    size_t items = RealShellFileRead(destination, itemSize, itemCount, file);
    state.readBytes += static_cast<int64_t>(items * itemSize);
    return items;
}

size_t ShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file) {
    if (FailsNow(state.writeCalls, state.failWriteAt)) {
        return 0;
    }
    return RealShellFileWrite(source, itemSize, itemCount, file);
}

int32_t ShellFileClose(ShellFile* file) {
    ++state.closes;
    int32_t result = RealShellFileClose(file);
    return FailsNow(state.closeCalls, state.failCloseAt) ? -1 : result;
}

int64_t ShellFileRemaining(ShellFile* file, ShellFileStamp* stamp) {
    const int64_t remaining = RealShellFileRemaining(file, stamp);
    return state.hideFileSizes ? -1 : remaining;
}

size_t ShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset) {
    ++state.readAtCalls;
    const size_t got = RealShellFileReadAt(file, destination, Readable(length), offset);
    state.readBytes += static_cast<int64_t>(got);
    return got;
}

int64_t ShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to) {
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
    const int64_t copied = RealShellFileCopyRange(from, offset, length, to);
    state.copiedBytes += copied > 0 ? copied : 0;
    return copied;
}

size_t ShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset) {
    if (FailsNow(state.writeCalls, state.failWriteAt)) {
        return 0;
    }
    return RealShellFileWriteAt(file, source, length, offset);
}

void ShellFileStartWriteback(ShellFile* file, int64_t offset, int64_t length) {
    state.writebacks.push_back({offset, length});
    RealShellFileStartWriteback(file, offset, length);
}

void* ShellReserveStore(size_t bytes, bool filledWhole) {
    if (FailsNow(state.allocationCalls, state.failAllocationAt)) {
        return nullptr;
    }
    void* block = RealShellReserveStore(bytes, filledWhole);
    state.stores += block != nullptr;
    state.wholeStores += block != nullptr && filledWhole;
    if (static_cast<int64_t>(bytes) > state.largestAllocation) {
        state.largestAllocation = static_cast<int64_t>(bytes);
    }
    return block;
}

void ShellReleaseStore(void* block, size_t bytes) {
    state.storeReleases += block != nullptr;
    RealShellReleaseStore(block, bytes);
}

// The bytes are spoilt before the pages go, so that rows read after they were
// given back show in the output, whatever the platform leaves there.
void ShellGiveBackStorePages(void* start, size_t bytes) {
    std::memset(start, 0xA5, bytes);
    state.storeBytesGivenBack += static_cast<int64_t>(bytes);
    RealShellGiveBackStorePages(start, bytes);
}

void ShellQueryPath(const char* path, ShellPathInfo* info) {
    RealShellQueryPath(path, info);
    info->mountPoint = !state.hideMountPoints && info->mountPoint;
    info->unnamedFiles = !state.unnamedUnsupported && info->unnamedFiles;
    if (info->kind == kShellPathRegular && FailsNow(state.writableCalls, state.failWritableAt)) {
        info->writable = false;
    }
}

void* ShellAllocate(size_t bytes) {
    if (FailsNow(state.allocationCalls, state.failAllocationAt)) {
        return nullptr;
    }
    void* block = RealShellAllocate(bytes);
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

void ShellRelease(void* block) {
    state.releases += block != nullptr;
    RealShellRelease(block);
}

namespace {

// The next draw: a configured one, or the real generator's.
int32_t NextDraw() {
    if (static_cast<int64_t>(state.drawsTaken) == state.cutAtDraw) {
        CutFile();
    }
    if (state.draws.empty()) {
        ++state.drawsTaken;
        int32_t value = 0;
        RealShellRandomDraws(&value, 1);
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

} // namespace

// One draw at a time, so that configured draws and cuts apply to each.
void ShellRandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = NextDraw();
    }
}

int32_t ShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity) {
    if (FailsNow(state.conversionCalls, state.failConversionAt)) {
        return 0;
    }
    return RealShellWideToNarrow(wide, narrow, capacity);
}
