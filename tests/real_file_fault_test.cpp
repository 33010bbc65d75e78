// Failures the platform really produces, on real files and devices: inputs
// that cannot be opened or read, outputs that cannot be created, and writes
// refused part way by the file-size limit, which binds every user, root too.
#include "bmp_files.h"
#include "job_invariants.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using std::filesystem::path;

bool RunningAsRoot() {
    return geteuid() == 0;
}

struct InputCase {
    const char* name;
    // Prepares the input inside `scratch` (or names a device) and returns its path.
    path (*prepare)(const ScratchDirectory& scratch);
    const char* line; // %s stands for the path
    bool needsNonRoot;
};

void PrintTo(const InputCase& input, std::ostream* out) {
    *out << input.name;
}

std::string Expand(const char* line, const path& input) {
    std::string text(line);
    const size_t at = text.find("%s");
    if (at != std::string::npos) {
        text.replace(at, 2, input.string());
    }
    return text;
}

const InputCase kInputs[] = {
    // Opens, but reading at its start fails with an I/O error.
    {"ProcessMemory", [](const ScratchDirectory&) { return path("/proc/self/mem"); },
     "Error: Cannot read file header\n", false},
    {"EmptyDevice", [](const ScratchDirectory&) { return path("/dev/null"); },
     "Error: Cannot read file header\n", false},
    {"EndlessZeros", [](const ScratchDirectory&) { return path("/dev/zero"); },
     "Error: Not a valid BMP file\n", false},
    {"SymbolicLinkLoop",
     [](const ScratchDirectory& scratch) {
         std::filesystem::create_symlink("loop.bmp", scratch / "loop.bmp");
         return scratch / "loop.bmp";
     },
     "Error: Cannot open input file '%s'\n", false},
    {"DanglingLink",
     [](const ScratchDirectory& scratch) {
         std::filesystem::create_symlink("gone.bmp", scratch / "link.bmp");
         return scratch / "link.bmp";
     },
     "Error: Cannot open input file '%s'\n", false},
    {"NoReadPermission",
     [](const ScratchDirectory& scratch) {
         WriteFileBytes(scratch / "secret.bmp", MakeBmp({}));
         chmod((scratch / "secret.bmp").c_str(), 0);
         return scratch / "secret.bmp";
     },
     "Error: Cannot open input file '%s'\n", true},
};

class UnreadableInputTest : public testing::TestWithParam<InputCase> {};

TEST_P(UnreadableInputTest, IsRefusedWithItsLine) {
    if (GetParam().needsNonRoot && RunningAsRoot()) {
        GTEST_SKIP() << "root reads files whatever their permission bits";
    }
    ScratchDirectory scratch;
    const path input = GetParam().prepare(scratch);
    const DirectorySnapshot before = Snapshot(scratch);

    EXPECT_EQ(RunPelindra(input, scratch / "out.bmp", 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, kBanner + Expand(GetParam().line, input));
    EXPECT_EQ(Snapshot(scratch), before);
    ExpectNothingHeld();
    EXPECT_EQ(TestShell().allocations, 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, UnreadableInputTest, testing::ValuesIn(kInputs),
                         [](const auto& info) { return std::string(info.param.name); });

struct OutputCase {
    const char* name;
    path (*prepare)(const ScratchDirectory& scratch);
    bool needsNonRoot;
};

void PrintTo(const OutputCase& output, std::ostream* out) {
    *out << output.name;
}

const OutputCase kUncreatableOutputs[] = {
    // A symbolic link to a directory is written through, and a directory
    // cannot be opened for writing.
    {"LinkToProcessDirectory", [](const ScratchDirectory&) { return path("/proc/self"); }, false},
    {"ReadOnlyDirectory",
     [](const ScratchDirectory& scratch) {
         std::filesystem::create_directory(scratch / "locked");
         chmod((scratch / "locked").c_str(), 0555);
         return scratch / "locked" / "out.bmp";
     },
     true},
};

class UncreatableOutputTest : public testing::TestWithParam<OutputCase> {};

TEST_P(UncreatableOutputTest, PrintsTheCreateLineAndLeavesNothing) {
    if (GetParam().needsNonRoot && RunningAsRoot()) {
        GTEST_SKIP() << "root creates files in read-only directories";
    }
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    const path output = GetParam().prepare(scratch);
    const DirectorySnapshot before = Snapshot(scratch);

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", output, 2), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 4 x 3 pixels\nAdding 2 stars to the image...\n"
                                      "Error: Cannot create output file '" +
                                      output.string() + "'\n");
    EXPECT_EQ(Snapshot(scratch), before);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Targets, UncreatableOutputTest, testing::ValuesIn(kUncreatableOutputs),
                         [](const auto& info) { return std::string(info.param.name); });

// Lowers the file-size limit for the lifetime of the object, so that writes
// beyond it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        applied_ = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool applied() const {
        return applied_;
    }

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
    bool applied_ = false;
};

struct LimitCase {
    const char* name;
    bool outputExists;
    bool inPlace;
    rlim_t limit; // bytes any file may grow to
};

void PrintTo(const LimitCase& limit, std::ostream* out) {
    *out << limit.name;
}

class FileSizeLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(FileSizeLimitTest, RefusedWriteKeepsWhatWasThere) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = 100;
    spec.height = 60; // 18 000 pixel bytes: past any of the limits below
    spec.pixelDataOffset = 138;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const path output = GetParam().inPlace ? scratch / "in.bmp" : scratch / "out.bmp";
    if (GetParam().outputExists && !GetParam().inPlace) {
        WriteFileBytes(output, Bytes(40, 'o'));
    }
    const DirectorySnapshot before = Snapshot(scratch);

    int32_t result = 0;
    {
        FileSizeLimit limit(GetParam().limit);
        ASSERT_TRUE(limit.applied());
        result = RunPelindra(scratch / "in.bmp", output, 5);
    }
    EXPECT_EQ(result, PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 100 x 60 pixels\nAdding 5 stars to the image...\n"
                  "Error: Cannot write output file '" +
                  output.string() + "'\n");
    EXPECT_EQ(Snapshot(scratch), before);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Limits, FileSizeLimitTest,
                         testing::Values(LimitCase{"NewOutputNothingFits", false, false, 0},
                                         LimitCase{"NewOutputHeadersFit", false, false, 60},
                                         LimitCase{"ExistingOutputHalfFits", true, false, 9000},
                                         LimitCase{"InPlaceAllButTheLastByteFits", true, true,
                                                   138 + 18000 - 1}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
