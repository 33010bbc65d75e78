// The runtime services the tests link in place of the real ones: real files and
// heap underneath, with every call counted and any of them made to fail.
#pragma once

#include "platform/platform_calls.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TestShellState {
    // Random draws: served in order from `draws`, repeating from the start when
    // `repeatDraws`, otherwise failing the test when they run out. With no draws
    // configured the real generator is used.
    std::vector<int32_t> draws;
    bool repeatDraws = false;
    size_t drawsTaken = 0;

    // Faults. Indices count calls of that kind from 0 since the last reset;
    // -1 means never.
    int64_t failAllocationAt = -1; // heap blocks
    int64_t failOpenAt = -1;       // any open, new files included
    int32_t createFailure = 5;     // the ShellFileOutcome a failed open reports (kShellFileFailed)
    bool unnamedUnsupported = false; // the file system has no unnamed files
    int64_t failWriteAt = -1;        // that write fails having written nothing
    int64_t shortWriteAt = -1;       // that write writes half its bytes, then stops
    int64_t failCloseAt = -1;        // the close reports failure (the stream is closed)
    // A call that puts the new file in the target's place (giving it the
    // target's identity, a name, or the target's name) fails, doing nothing,
    // with `placeFailure`: failed, or denied where the target should be
    // written in place instead.
    int64_t failPlaceAt = -1;
    int32_t placeFailure = 5;      // a ShellFileOutcome (kShellFileFailed)
    int64_t failWritableAt = -1;   // that query of a regular file finds it not writable
    int64_t readableBytes = -1;    // total bytes reads (at offsets too) may deliver,
                                   // then they come up short
    bool hideFileSizes = false;    // report sizes as unknown, as for a pipe
    bool hideMountPoints = false;  // path queries never see a mount point
    int64_t failConversionAt = -1; // that wide-to-narrow conversion fails as a whole
    // Kernel copies.
    int64_t failCopyAt = -1;  // from that kernel copy on, the platform cannot copy (-1)
    int64_t copyLimit = -1;   // each kernel copy moves at most this many bytes
    int64_t copyStallAt = -1; // that kernel copy moves nothing (returns 0)
    // The input changing under the job: just before random draw number
    // `cutAtDraw` is served, the file at `cutPath` is cut to `cutLength` bytes
    // (with a negative length: rewritten in place, its size kept, the bytes of
    // its first MiB after the headers changed), by this process or, with
    // `cutFromChild`, by a child process.
    int64_t cutAtDraw = -1;
    std::string cutPath;
    int64_t cutLength = 0;
    bool cutFromChild = false;

    // Counters.
    int64_t opens = 0;
    int64_t closes = 0;
    int64_t allocations = 0; // successful ones
    int64_t releases = 0;    // of non-null blocks
    int64_t allocationCalls = 0;
    int64_t openCalls = 0;
    int64_t writeCalls = 0;
    int64_t closeCalls = 0;
    int64_t placeCalls = 0;
    int64_t writableCalls = 0;
    int64_t signalHolds = 0; // holds and releases of the write signals
    int64_t signalReleases = 0;
    int64_t conversionCalls = 0;
    int64_t readBytes = 0;
    int64_t largestAllocation = 0;
    int64_t readAtCalls = 0;
    int64_t copyCalls = 0;
    int64_t copiedBytes = 0;
    // Ranges (offset, length) of written files handed on to the disk, in order.
    std::vector<std::pair<int64_t, int64_t>> writebacks;

    // Everything printed since the last reset; also echoed when `echo` is set.
    std::string output;
    bool echo = false;
};

// The state the substitute works from; tests configure it directly.
TestShellState& TestShell();
// Back to defaults: no faults, no draws, counters at zero, output empty, and
// the substitute's calls in use.
void ResetTestShell();
// The platform's own calls, for tests of the platform itself.
const ShellCalls& RealShell();
