// Loading and saving when the platform fails underneath: allocations, reads,
// writes, the close and the rename, through the substitute services and on
// real devices.
#include "bmp_files.h"
#include "job_runner.h"

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

// Saving: every write, the close and the rename can fail. None may harm an
// existing output file or leave a temporary behind.
struct SaveFaultCase {
    const char* name;
    int64_t failWriteAt;
    int64_t failCloseAt; // closes count the input's close as 0
    int64_t failRenameAt;
};

class SaveFaultTest : public testing::TestWithParam<SaveFaultCase> {};

TEST_P(SaveFaultTest, ReportsTheWriteAndKeepsTheOldFile) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(WithGap()));
    const Bytes previous{'o', 'l', 'd'};
    WriteFileBytes(scratch / "out.bmp", previous);
    TestShell().failWriteAt = GetParam().failWriteAt;
    TestShell().failCloseAt = GetParam().failCloseAt;
    TestShell().failRenameAt = GetParam().failRenameAt;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 5 x 3 pixels\nAdding 0 stars to the image...\n"
                                      "Error: Cannot write output file '" +
                                      (scratch / "out.bmp").string() + "'\n");
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), previous);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Faults, SaveFaultTest,
                         testing::Values(SaveFaultCase{"FileHeaderWrite", 0, -1, -1},
                                         SaveFaultCase{"InfoHeaderWrite", 1, -1, -1},
                                         SaveFaultCase{"GapWrite", 2, -1, -1},
                                         SaveFaultCase{"PixelWrite", 3, -1, -1},
                                         SaveFaultCase{"Close", -1, 1, -1},
                                         SaveFaultCase{"Rename", -1, -1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Save, InPlaceFailureKeepsTheInputWhole) {
    ScratchDirectory scratch;
    const Bytes original = MakeBmp(WithGap());
    WriteFileBytes(scratch / "in.bmp", original);
    TestShell().failWriteAt = 3;
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

TEST(Save, TemporaryCreationFailureFallsBackToWritingTheExistingFile) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    WriteFileBytes(scratch / "out.bmp", Bytes{1});
    TestShell().failOpenAt = 1; // 0 is the input; 1 the temporary beside the output
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf({}));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
}

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

// A stream of unknown size (a pipe) cannot be checked up front, so its blocks
// grow with what arrives instead of being reserved from the header's promise.
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
    EXPECT_LE(TestShell().largestAllocation, 64 * 1024);
    ExpectNothingHeld();
}

TEST(Load, StreamOfUnknownSizeStillLoadsWhole) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 301;
    spec.height = -250; // 226 KB of rows: the block grows three times
    spec.pixelDataOffset = 138;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    TestShell().hideFileSizes = true;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf(spec));
    EXPECT_GE(TestShell().allocations, 4);
    ExpectNothingHeld();
}

TEST(Load, GrowingBlockThatCannotGrowIsAnAllocationFailure) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 301;
    spec.height = 250;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    TestShell().hideFileSizes = true;
    TestShell().failAllocationAt = 2; // the second doubling

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 301 x 250 pixels\n"
                                      "Error: Cannot allocate memory for image data\n");
    ExpectNothingHeld();
}

} // namespace
