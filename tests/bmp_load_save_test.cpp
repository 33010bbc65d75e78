// Loading and saving when the platform fails underneath: allocations, reads,
// writes, the close and the rename, through the substitute services and on
// real devices.
#include "bmp/bmp_save.h"
#include "bmp_files.h"
#include "job_runner.h"
#include "platform/platform_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::filesystem::path;

BmpSpec WithGap() {
    BmpSpec spec;
    spec.width = 5;
    spec.height = -3;
    spec.pixelDataOffset = 138;
    return spec;
}

struct LoadFaultCase {
    const char* name;
    int64_t failAllocationAt;
    int64_t readableBytes;
    std::string line;
};

// GoogleTest would otherwise print the case as raw bytes, string internals and
// all, which memory checkers rightly report as reads of uninitialised memory.
void PrintTo(const LoadFaultCase& faultCase, std::ostream* out) {
    *out << faultCase.name;
}

class LoadFaultTest : public testing::TestWithParam<LoadFaultCase> {};

TEST_P(LoadFaultTest, ReportsTheFailingStepAndReleasesEverything) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(WithGap()));
    TestShell().failAllocationAt = GetParam().failAllocationAt;
    TestShell().readableBytes = GetParam().readableBytes;
    TestShell().hideFileSizes = true; // as from a pipe: the short read itself must be caught

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 2), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, kBanner + GetParam().line);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LoadFaultTest,
    testing::Values(
        LoadFaultCase{"FileHeaderShort", -1, 13, "Error: Cannot read file header\n"},
        LoadFaultCase{"InfoHeaderShort", -1, 14 + 39, "Error: Cannot read info header\n"},
        LoadFaultCase{"GapAllocation", 0, -1,
                      "Image size: 5 x 3 pixels\nError: Cannot allocate memory for header\n"},
        LoadFaultCase{"GapShort", -1, 137,
                      "Image size: 5 x 3 pixels\nError: Cannot read header data\n"},
        LoadFaultCase{"PixelAllocation", 1, -1,
                      "Image size: 5 x 3 pixels\nError: Cannot allocate memory for image data\n"},
        LoadFaultCase{"PixelsShortByOne", -1, 138 + 48 - 1,
                      "Image size: 5 x 3 pixels\nError: Cannot read pixel data\n"},
        LoadFaultCase{"PixelsMissing", -1, 138,
                      "Image size: 5 x 3 pixels\nError: Cannot read pixel data\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Load, NeverAllocatesMoreThanTheFileHolds) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 1000;
    spec.height = 1000;
    Bytes file = MakeBmp(spec);
    file.resize(54 + 2999 * 10); // ten rows short of a million pixels
    WriteFileBytes(scratch / "in.bmp", file);

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 2), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 1000 x 1000 pixels\nError: Cannot read pixel data\n");
    EXPECT_EQ(TestShell().largestAllocation, 0);
}

// Saving: every write and putting the new file in place can fail, and so can
// making the new file beside the target for any reason but permission. None
// may harm an existing output file or leave a temporary behind.
struct SaveFaultCase {
    const char* name;
    int64_t failWriteAt;
    int64_t failPlaceAt = -1;    // giving the new file the target's identity and name
    int64_t failOpenAt = -1;     // 0 is the input; 1 the new file (a full disk, no inodes)
    int64_t failWritableAt = -1; // the target could not be opened for writing
    bool unnamedUnsupported = false;
    const char* line = "write"; // "write" or "create"
};

void PrintTo(const SaveFaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

class SaveFaultTest : public testing::TestWithParam<SaveFaultCase> {};

TEST_P(SaveFaultTest, ReportsTheFailureAndKeepsTheOldFile) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(WithGap()));
    const Bytes previous{'o', 'l', 'd'};
    WriteFileBytes(scratch / "out.bmp", previous);
    const SaveFaultCase& c = GetParam();
    TestShell().failWriteAt = c.failWriteAt;
    TestShell().failPlaceAt = c.failPlaceAt;
    TestShell().failOpenAt = c.failOpenAt;
    TestShell().failWritableAt = c.failWritableAt;
    TestShell().unnamedUnsupported = c.unnamedUnsupported;
    TestShell().failCopyAt = 0; // the rows too are written by a write of their own

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 5 x 3 pixels\nAdding 0 stars to the image...\n"
                                      "Error: Cannot " +
                                      c.line + " output file '" + (scratch / "out.bmp").string() +
                                      "'\n");
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), previous);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    EXPECT_EQ(TestShell().signalHolds, 1);
    EXPECT_EQ(TestShell().signalReleases, 1);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SaveFaultTest,
    testing::Values(SaveFaultCase{"HeadersAndGapWrite", 0}, SaveFaultCase{"PixelWrite", 1},
                    SaveFaultCase{"PutInPlace", -1, 0},
                    SaveFaultCase{"PutInPlaceFromNamedTemporary", -1, 0, -1, -1, true},
                    SaveFaultCase{"NewFileNoSpace", -1, -1, 1, -1, false, "create"},
                    SaveFaultCase{"NamedTemporaryNoSpace", -1, -1, 1, -1, true, "create"},
                    SaveFaultCase{"TargetNotWritable", -1, -1, -1, 0, false, "create"}),
    [](const auto& info) { return std::string(info.param.name); });

// Where the new file cannot stand in for the old one, the old file is written
// in place (keeping its inode, so every name and the owner stay), as a plain
// open for writing would; otherwise it is replaced by a new file.
struct PlacementCase {
    const char* name;
    int64_t failOpenAt;      // 1: the directory refuses the new file for permission
    int64_t failPlaceAt;     // 0: an identity the new file cannot carry, a refused rename
    bool unnamedUnsupported; // the file system has no unnamed files
    bool inPlace;
};

void PrintTo(const PlacementCase& placement, std::ostream* out) {
    *out << placement.name;
}

class SavePlacementTest : public testing::TestWithParam<PlacementCase> {};

TEST_P(SavePlacementTest, WritesTheImageWhereItMust) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    WriteFileBytes(scratch / "out.bmp", Bytes{1});
    chmod((scratch / "out.bmp").c_str(), 0640);
    struct stat before;
    ASSERT_EQ(stat((scratch / "out.bmp").c_str(), &before), 0);
    const PlacementCase& c = GetParam();
    TestShell().failOpenAt = c.failOpenAt;
    TestShell().createFailure = kShellFileDenied;
    TestShell().failPlaceAt = c.failPlaceAt;
    TestShell().placeFailure = kShellFileDenied;
    TestShell().unnamedUnsupported = c.unnamedUnsupported;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN)
        << TestShell().output;
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf({}));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    struct stat after;
    ASSERT_EQ(stat((scratch / "out.bmp").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Targets, SavePlacementTest,
    testing::Values(PlacementCase{"Replaced", -1, -1, false, false},
                    PlacementCase{"ReplacedThroughNamedTemporary", -1, -1, true, false},
                    PlacementCase{"DirectoryRefusesNewNames", 1, -1, false, true},
                    PlacementCase{"NamedTemporaryRefused", 1, -1, true, true},
                    PlacementCase{"PlaceRefused", -1, 0, false, true},
                    PlacementCase{"PlaceRefusedForNamedTemporary", -1, 0, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A new output gets the mode a plain create gives it, whichever way it was made.
TEST(Save, NewOutputGetsTheModeOfANewFile) {
    const mode_t saved = umask(027);
    for (const bool unnamedUnsupported : {false, true}) {
        SCOPED_TRACE(unnamedUnsupported ? "named temporary" : "unnamed file");
        ResetTestShell();
        ScratchDirectory scratch;
        WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
        TestShell().unnamedUnsupported = unnamedUnsupported;
        EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN);
        struct stat made;
        ASSERT_EQ(stat((scratch / "out.bmp").c_str(), &made), 0);
        EXPECT_EQ(made.st_mode & 07777, 0640u);
    }
    umask(saved);
}

TEST(Save, InPlaceFailureKeepsTheInputWhole) {
    ScratchDirectory scratch;
    const Bytes original = MakeBmp(WithGap());
    WriteFileBytes(scratch / "in.bmp", original);
    TestShell().failWriteAt = 0; // the star's first run
    TestShell().draws = {1, 1, 7, 1};
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "in.bmp", 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), original);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
}

TEST(Save, FullDeviceIsAWriteFailure) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/full here";
    }
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 200;
    spec.height = 200; // larger than a stdio buffer, so the writes themselves fail
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", "/dev/full", 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 200 x 200 pixels\nAdding 0 stars to the image...\n"
                  "Error: Cannot write output file '/dev/full'\n");
    ExpectNothingHeld();
}

TEST(Save, SmallImageOnFullDeviceFailsAtTheClose) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/full here";
    }
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", "/dev/full", 0), PELINDRA_RESULT_FAILED);
    EXPECT_NE(TestShell().output.find("Error: Cannot write output file '/dev/full'\n"),
              std::string::npos);
}

TEST(Save, DeviceTargetIsWrittenDirectly) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", "/dev/null", 0), PELINDRA_RESULT_WRITTEN);
    ExpectNothingHeld();
}

TEST(Save, PipeTargetReceivesTheImage) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    const path fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Open the reading end first, non-blocking, so the job's open does not wait.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", fifo, 0), PELINDRA_RESULT_WRITTEN);
    Bytes received(200);
    const ssize_t got = read(reader, received.data(), received.size());
    close(reader);
    ASSERT_GE(got, 0);
    received.resize(static_cast<size_t>(got));
    EXPECT_EQ(received, PassThroughOf({}));
}

struct CreateFailureCase {
    const char* name;
    const char* target; // relative to the scratch directory unless absolute
};

class CreateFailureTest : public testing::TestWithParam<CreateFailureCase> {};

TEST_P(CreateFailureTest, PrintsTheCreateLine) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    std::filesystem::create_directory(scratch / "folder");
    const path target =
        GetParam().target[0] == '/' ? path(GetParam().target) : scratch / GetParam().target;
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", target, 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 4 x 3 pixels\nAdding 0 stars to the image...\n"
                                      "Error: Cannot create output file '" +
                                      target.string() + "'\n");
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"folder", "in.bmp"}));
    EXPECT_TRUE(std::filesystem::is_empty(scratch / "folder"));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Targets, CreateFailureTest,
                         testing::Values(CreateFailureCase{"Directory", "folder"},
                                         CreateFailureCase{"MissingDirectory", "absent/out.bmp"},
                                         CreateFailureCase{"UnderAFile", "in.bmp/out.bmp"},
                                         CreateFailureCase{"ProcFileSystem", "/proc/pelindra.bmp"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Save, SymbolicLinkTargetIsWrittenThrough) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    WriteFileBytes(scratch / "real.bmp", Bytes{1});
    std::filesystem::create_symlink("real.bmp", scratch / "link.bmp");
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "link.bmp", 0), PELINDRA_RESULT_WRITTEN);
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "link.bmp"));
    EXPECT_EQ(ReadFileBytes(scratch / "real.bmp"), PassThroughOf({}));
}

} // namespace

namespace {

// A stream of unknown size (a pipe) cannot be checked up front, so its gap and
// rows pass through one bounded buffer into a scratch file instead of being
// reserved from the header's promise.
TEST(Load, StreamOfUnknownSizeCostsOnlyWhatItDelivers) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 10000;
    spec.height = 10000; // promises 300 MB
    spec.withPixels = false;
    Bytes file = MakeBmp(spec);
    file.resize(file.size() + 1000, 0x42);
    WriteFileBytes(scratch / "in.bmp", file);
    TestShell().hideFileSizes = true;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Image size: 10000 x 10000 pixels\n"
                                                         "Error: Cannot read pixel data\n");
    EXPECT_LE(TestShell().largestAllocation, 256 * 1024);
    ExpectNothingHeld();
}

TEST(Load, StreamOfUnknownSizeStillLoadsWhole) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 301;
    spec.height = -2500;           // 2.2 MB of rows, in pieces
    spec.pixelDataOffset = 200138; // a gap of 200 KB, also in pieces
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    TestShell().hideFileSizes = true;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf(spec));
    EXPECT_LE(TestShell().largestAllocation, 256 * 1024);
    ExpectNothingHeld();
}

} // namespace
