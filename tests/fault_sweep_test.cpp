// Every platform call the job makes, failed in turn. A clean run first counts
// how many allocations, opens, writes, closes, placings of the new file,
// conversions and bytes read a job takes; then each of them is made to fail on its own.
// Whatever fails, the job must print exactly one error line, return 1, close every file, release
// every block and leave the directory as it found it: an existing output untouched, no temporary
// file behind.
#include "bmp_files.h"
#include "job_invariants.h"

#include "platform/platform_calls.h"

#include <optional>

namespace {

using std::filesystem::path;

struct Scenario {
    const char* name;
    BmpSpec spec;
    bool outputExists; // an older file already sits at the output path
    bool inPlace;      // the output path is the input path
    int32_t stars;
    // Rows of more than one copy buffer, so that a fault can strike after
    // part of the rows was written; not cut byte by byte.
    bool large = false;
};

BmpSpec Spec(int32_t width, int32_t height, uint32_t offset, size_t trailing = 0) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixelDataOffset = offset;
    spec.trailingBytes = trailing;
    return spec;
}

const Scenario kScenarios[] = {
    {"GapPadOneTopDown", Spec(5, -3, 138), false, false, 3},
    {"PadTwoOverExistingOutput", Spec(2, 4, 54, 5), true, false, 2},
    {"OffsetBelowHeadersPadThree", Spec(3, 2, 20), true, false, 1},
    {"OneByteGapNoPad", Spec(4, 3, 55), false, false, 0},
    {"InPlaceWithGapAndTrailingBytes", Spec(5, 3, 138, 9), true, true, 3},
    {"TwoPiecesOverExistingOutput", Spec(1024, 2900, 54), true, false, 3, true},
};

enum class Fault {
    kAllocation,           // the kernel cannot copy, so the rows go through a buffer
    kAllocationFromStream, // the input's size is unknown, so the rows are read through a buffer
    kOpen,
    kWrite,
    kShortWrite, // a write stops half way, as on a disk that fills
    kClose,
    kPlace,        // putting the finished new file in place fails
    kPlaceRefused, // it cannot stand in for the target, which is written in place
    kConversion,
    kReadCut,            // reads stop after N bytes; the file's size is known
    kReadCutUnknownSize, // the same with the size hidden, as from a pipe
};

const char* FaultName(Fault fault) {
    switch (fault) {
    case Fault::kAllocation:
        return "Allocation";
    case Fault::kAllocationFromStream:
        return "AllocationFromStream";
    case Fault::kOpen:
        return "Open";
    case Fault::kWrite:
        return "Write";
    case Fault::kShortWrite:
        return "ShortWrite";
    case Fault::kClose:
        return "Close";
    case Fault::kPlace:
        return "Place";
    case Fault::kPlaceRefused:
        return "PlaceRefused";
    case Fault::kConversion:
        return "Conversion";
    case Fault::kReadCut:
        return "ReadCut";
    case Fault::kReadCutUnknownSize:
        return "ReadCutUnknownSize";
    }
    return "?";
}

// How many of the calls a fault targets a clean run makes.
int64_t CallsMade(Fault fault, const TestShellState& shell) {
    switch (fault) {
    case Fault::kAllocation:
    case Fault::kAllocationFromStream:
        return shell.allocationCalls;
    case Fault::kOpen:
        return shell.openCalls;
    case Fault::kWrite:
    case Fault::kShortWrite:
        return shell.writeCalls;
    case Fault::kClose:
        return shell.closeCalls;
    case Fault::kPlace:
    case Fault::kPlaceRefused:
        return shell.placeCalls;
    case Fault::kConversion:
        return shell.conversionCalls;
    case Fault::kReadCut:
    case Fault::kReadCutUnknownSize:
        return shell.readBytes;
    }
    return 0;
}

// What a run with this fault needs besides the fault itself; the clean run
// that counts the calls gets it too.
void Prepare(Fault fault, TestShellState& shell) {
    // Without the kernel's copy every byte goes through a buffer and a write.
    if (fault == Fault::kAllocation || fault == Fault::kWrite || fault == Fault::kShortWrite) {
        shell.failCopyAt = 0;
    }
    if (fault == Fault::kAllocationFromStream) {
        shell.hideFileSizes = true;
    }
}

void Inject(Fault fault, int64_t index, TestShellState& shell) {
    Prepare(fault, shell);
    switch (fault) {
    case Fault::kAllocation:
    case Fault::kAllocationFromStream:
        shell.failAllocationAt = index;
        return;
    case Fault::kOpen:
        shell.failOpenAt = index;
        return;
    case Fault::kWrite:
        shell.failWriteAt = index;
        return;
    case Fault::kShortWrite:
        shell.shortWriteAt = index;
        return;
    case Fault::kClose:
        shell.failCloseAt = index;
        return;
    case Fault::kPlace:
        shell.failPlaceAt = index;
        return;
    case Fault::kPlaceRefused:
        shell.failPlaceAt = index;
        shell.placeFailure = kShellFileDenied;
        return;
    case Fault::kConversion:
        shell.failConversionAt = index;
        return;
    case Fault::kReadCut:
        shell.readableBytes = index;
        return;
    case Fault::kReadCutUnknownSize:
        shell.readableBytes = index;
        shell.hideFileSizes = true;
        return;
    }
}

struct Paths {
    path input;
    path output;
};

Paths Prepare(const Scenario& scenario, const ScratchDirectory& scratch) {
    const Paths paths{scratch / "in.bmp",
                      scenario.inPlace ? scratch / "in.bmp" : scratch / "out.bmp"};
    WriteFileBytes(paths.input, MakeBmp(scenario.spec));
    if (scenario.outputExists && !scenario.inPlace) {
        WriteFileBytes(paths.output, Bytes{'o', 'l', 'd'});
    }
    return paths;
}

int32_t RunScenario(const Scenario& scenario, const Paths& paths) {
    TestShell().draws = {1, 2, 7, 2, 3, 0, 1, 1};
    TestShell().repeatDraws = true;
    return RunPelindra(paths.input, paths.output, scenario.stars);
}

int32_t RowsOf(const BmpSpec& spec) {
    return spec.height < 0 ? -spec.height : spec.height;
}

std::string SizeLine(const BmpSpec& spec) {
    return "Image size: " + std::to_string(spec.width) + " x " + std::to_string(RowsOf(spec)) +
           " pixels\n";
}

// What a load cut off after `delivered` bytes prints.
std::string CutLoadLines(const BmpSpec& spec, int64_t delivered) {
    const int64_t gap = static_cast<int64_t>(spec.pixelDataOffset) - 54;
    if (delivered < 14) {
        return "Error: Cannot read file header\n";
    }
    if (delivered < 54) {
        return "Error: Cannot read info header\n";
    }
    if (gap > 0 && delivered < 54 + gap) {
        return SizeLine(spec) + "Error: Cannot read header data\n";
    }
    return SizeLine(spec) + "Error: Cannot read pixel data\n";
}

// The lines after the banner when call `index` of kind `fault` fails, or
// nothing when the job still writes its output.
std::optional<std::string> ExpectedFailure(const Scenario& scenario, const Paths& paths,
                                           Fault fault, int64_t index) {
    const std::string sizeLine = SizeLine(scenario.spec);
    const std::string saving =
        sizeLine + "Adding " + std::to_string(scenario.stars) + " stars to the image...\n";
    const std::string writeLine =
        "Error: Cannot write output file '" + paths.output.string() + "'\n";
    const bool hasGap = scenario.spec.pixelDataOffset > 54;
    switch (fault) {
    case Fault::kAllocation:
    case Fault::kAllocationFromStream:
        // A stream's buffer as its gap, then its rows, are copied into a
        // scratch file; then, as the image is made, the list of stars a
        // replacing file's runs are written from, and a file's buffer where
        // the kernel cannot copy.
        if (fault == Fault::kAllocationFromStream && hasGap && index == 0) {
            return sizeLine + "Error: Cannot allocate memory for header\n";
        }
        return (fault == Fault::kAllocationFromStream && index == (hasGap ? 1 : 0) ? sizeLine
                                                                                   : saving) +
               "Error: Cannot allocate memory for image data\n";
    case Fault::kOpen:
        if (index == 0) {
            return "Error: Cannot open input file '" + paths.input.string() + "'\n";
        }
        // The new file beside the output could not be made (for no permission
        // reason: no space, no inodes), so an existing output stays as it is.
        return saving + "Error: Cannot create output file '" + paths.output.string() + "'\n";
    case Fault::kWrite:
    case Fault::kShortWrite:
    case Fault::kPlace:
        return saving + writeLine;
    case Fault::kPlaceRefused:
        // An existing output is then written in place; a new one has nothing
        // to fall back to.
        return scenario.outputExists ? std::nullopt
                                     : std::optional<std::string>(saving + writeLine);
    case Fault::kClose:
        // The input is only read, so its close, the first, cannot lose
        // anything.
        if (index == 0) {
            return std::nullopt;
        }
        return saving + writeLine;
    case Fault::kConversion:
        if (index == 0) {
            return std::string("Error: Cannot open input file ''\n");
        }
        return saving + "Error: Cannot create output file ''\n";
    case Fault::kReadCut:
    case Fault::kReadCutUnknownSize:
        return CutLoadLines(scenario.spec, index);
    }
    return std::nullopt;
}

struct SweepCase {
    Scenario scenario;
    Fault fault;
};

void PrintTo(const SweepCase& sweep, std::ostream* out) {
    *out << sweep.scenario.name << "/" << FaultName(sweep.fault);
}

class FaultSweepTest : public testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweepTest, EveryFailureIsReportedOnceAndLeavesNothingBehind) {
    const Scenario& scenario = GetParam().scenario;
    const Fault fault = GetParam().fault;

    // The clean run: what the job writes, and how many calls of each kind it makes.
    Bytes written;
    int64_t calls = 0;
    {
        ScratchDirectory scratch;
        const Paths paths = Prepare(scenario, scratch);
        Prepare(fault, TestShell());
        ASSERT_EQ(RunScenario(scenario, paths), PELINDRA_RESULT_WRITTEN) << TestShell().output;
        written = ReadFileBytes(paths.output);
        calls = CallsMade(fault, TestShell());
    }
    ASSERT_GT(calls, 0) << "the job makes no call this fault could hit";

    int64_t failures = 0;
    for (int64_t index = 0; index < calls; ++index) {
        SCOPED_TRACE(std::string(FaultName(fault)) + " fault at call " + std::to_string(index));
        ResetTestShell();
        ScratchDirectory scratch;
        const Paths paths = Prepare(scenario, scratch);
        const DirectorySnapshot before = Snapshot(scratch);
        const int64_t inputSize = static_cast<int64_t>(before.at("in.bmp").size());
        Inject(fault, index, TestShell());

        const int32_t result = RunScenario(scenario, paths);
        const std::optional<std::string> failure = ExpectedFailure(scenario, paths, fault, index);
        const std::string& output = TestShell().output;
        if (failure) {
            ++failures;
            EXPECT_EQ(result, PELINDRA_RESULT_FAILED);
            EXPECT_EQ(output, kBanner + *failure);
            ExpectOneErrorLineLast(output);
            EXPECT_EQ(Snapshot(scratch), before) << "a failed job changed the directory";
        } else {
            EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN) << output;
            EXPECT_EQ(CountErrorLines(output), 0) << output;
            EXPECT_EQ(ReadFileBytes(paths.output), written);
            EXPECT_EQ(scratch.Entries().size(), before.size() + (scenario.outputExists ? 0 : 1));
        }
        ExpectNothingHeld();
        EXPECT_LE(TestShell().largestAllocation, inputSize);
        if (HasFailure()) {
            break; // one broken index says enough; the rest would repeat it
        }
    }
    RecordProperty("faults_injected", static_cast<int>(calls));
    RecordProperty("failures_expected", static_cast<int>(failures));
}

std::vector<SweepCase> AllSweeps() {
    std::vector<SweepCase> sweeps;
    for (const Scenario& scenario : kScenarios) {
        for (Fault fault :
             {Fault::kAllocation, Fault::kAllocationFromStream, Fault::kOpen, Fault::kWrite,
              Fault::kShortWrite, Fault::kClose, Fault::kPlace, Fault::kPlaceRefused,
              Fault::kConversion, Fault::kReadCut, Fault::kReadCutUnknownSize}) {
            if (scenario.large &&
                (fault == Fault::kReadCut || fault == Fault::kReadCutUnknownSize)) {
                continue;
            }
            sweeps.push_back({scenario, fault});
        }
    }
    return sweeps;
}

INSTANTIATE_TEST_SUITE_P(Jobs, FaultSweepTest, testing::ValuesIn(AllSweeps()),
                         [](const auto& info) {
                             return std::string(info.param.scenario.name) + "_" +
                                    FaultName(info.param.fault);
                         });

} // namespace
