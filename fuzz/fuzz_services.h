// The runtime services the fuzz targets link in place of the platform's: files
// live in memory, the job's own decisions (the replace among them) run above
// them, random draws come from the fuzz input, printing is captured,
// and every open, close, allocation and release is counted so a target can
// check that nothing was left held. Any one call can be made to fail.
#pragma once

#include "platform/platform_calls.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using FuzzBytes = std::vector<uint8_t>;

struct FuzzShellState {
    // The file system: path to contents. Paths ending in '/' are directories.
    // Files without a name live in their stream until they are named.
    std::map<std::string, FuzzBytes> files;
    bool hideFileSizes = false; // streams report no size, as a pipe does

    // Draws: four bytes each, little-endian, top bit cleared; 0 once used up.
    const uint8_t* draws = nullptr;
    size_t drawBytes = 0;
    size_t drawsTaken = 0;

    // Faults: the index of the call of that kind to fail; -1 for none.
    int64_t failAllocationAt = -1;
    int64_t failOpenAt = -1; // opens and exclusive creations
    int64_t failWriteAt = -1;
    int64_t failCloseAt = -1;                 // the stream is closed all the same
    int32_t createFailure = kShellFileFailed; // the ShellFileOutcome a failed open reports
    bool unnamedSupported = false;            // files without a name can be created (O_TMPFILE)
    // A call that gives a new file an identity, a name or its target's place
    // fails, doing nothing, with `placeFailure` (denied: write in place).
    int64_t failPlaceAt = -1;
    int32_t placeFailure = kShellFileFailed;
    int64_t failWritableAt = -1; // that query of a file finds it not writable
    int64_t failCopyAt = -1;     // from that kernel copy on, copies are unsupported
    // The input changing under the job: before draw number cutAtDraw is
    // served, the file at cutPath loses its second half (cut is then set).
    int64_t cutAtDraw = -1;
    std::string cutPath;
    bool cut = false;
    // Allocations larger than this fail, as a heap would; the check of the
    // largest allocation against the input size happens in the target.
    size_t allocationCeiling = 4u << 20;

    // Counters.
    int64_t opens = 0; // successful ones
    int64_t closes = 0;
    int64_t allocations = 0; // successful ones
    int64_t releases = 0;    // of non-null blocks
    int64_t allocationCalls = 0;
    int64_t openCalls = 0;
    int64_t writeCalls = 0;
    int64_t closeCalls = 0;
    int64_t placeCalls = 0;
    int64_t writableCalls = 0;
    int64_t unnamedOpen = 0; // unnamed files currently open; they vanish when closed
    int64_t truncations = 0; // existing files opened for writing, so written in place
    int64_t signalHolds = 0; // holds of the write signals, and releases
    int64_t signalReleases = 0;
    int64_t copyCalls = 0;
    size_t largestAllocation = 0;

    std::string output; // everything printed
};

FuzzShellState& FuzzShell();
// Back to defaults: no files, no faults, counters at zero, output empty.
void ResetFuzzShell();

// Aborts with `message` and what was printed so far; libFuzzer then keeps the
// input as a crash.
[[noreturn]] void FuzzFail(const char* message);

// Number of lines starting "Error: " in `text`.
int CountErrorLines(const std::string& text);
