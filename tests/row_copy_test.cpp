// The rows' way into the output at its seams. A job with few stars for its
// image copies the rows by kernel copy and writes its stars' runs over them,
// reading nothing back; each way that can fail is forced through the
// substitute: the kernel copy, the bounded reads that replace it, the buffer
// they need, and the writes of the runs and bands. Every path must write the
// same bytes and print the same lines, and a failed save must leave the old
// target alone. Then the input changed while stars are drawn, and last the
// platform's copies and scratch files.
#include "bmp_files.h"
#include "job_runner.h"
#include "platform/platform_calls.h"
#include "star_shapes.h"

#include "job/make_image.h"
#include "job_invariants.h"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace {

using std::filesystem::path;

struct StarDraws {
    int32_t x;
    int32_t y;
    int32_t size; // 2 to 9
    int32_t colour;
};

// 1603 x 800 with a 138-byte header: 4812-byte rows (pad 3), 3,849,600 pixel
// bytes starting part-way into a page: large enough that a few stars go as
// runs.
BmpSpec LargeSpec() {
    BmpSpec spec;
    spec.width = 1603;
    spec.height = 800;
    spec.pixelDataOffset = 138;
    spec.trailingBytes = 5;
    return spec;
}

int32_t PixelBytesOf(const BmpSpec& spec) {
    return StrideOf(spec.width) * (spec.height < 0 ? -spec.height : spec.height);
}

// Stars spread over the image, some over the borders.
std::vector<StarDraws> SomeStars() {
    return {{0, 0, 9, 0},      {1602, 799, 7, 1}, {800, 400, 5, 2}, {50, 3, 2, 3},
            {1200, 560, 8, 1}, {801, 402, 3, 0},  {7, 120, 6, 2}};
}

// The file the job must write: the input cut after its rows, each star's
// pixels painted over it in order, from the written-out shapes.
Bytes Expected(const BmpSpec& spec, const std::vector<StarDraws>& stars) {
    Bytes file = PassThroughOf(spec);
    const size_t pixelStart = spec.pixelDataOffset > 54 ? spec.pixelDataOffset : 54;
    const int32_t rows = spec.height < 0 ? -spec.height : spec.height;
    for (const StarDraws& star : stars) {
        uint8_t red = 255;
        uint8_t green = 255;
        uint8_t blue = 255;
        if (star.colour == 1) {
            blue = 200;
        } else if (star.colour == 2) {
            red = 200;
            green = 220;
        }
        for (const auto& [x, y] :
             Placed(StarOffsets(star.size), star.x, star.y, spec.width, rows)) {
            PaintPixel(file, pixelStart, spec.width, x, y, red, green, blue);
        }
    }
    return file;
}

// What ExpectNothingHeld checks, for tests that call parts of the job.
void ExpectReleased() {
    EXPECT_EQ(TestShell().opens, TestShell().closes);
    EXPECT_EQ(TestShell().allocations, TestShell().releases);
}

void Feed(const std::vector<StarDraws>& stars) {
    TestShell().draws.clear();
    for (const StarDraws& star : stars) {
        TestShell().draws.insert(TestShell().draws.end(),
                                 {star.x, star.y, star.size - 2, star.colour});
    }
}

struct StoreCase {
    const char* name;
    void (*configure)(TestShellState& shell);
    void (*check)(const TestShellState& shell, int32_t pixelBytes);
};

class StoreSaveTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreSaveTest, WritesTheSameBytesOnEveryPath) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const std::vector<StarDraws> stars = SomeStars();
    Feed(stars);
    GetParam().configure(TestShell());

    const int32_t count = static_cast<int32_t>(stars.size());
    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", count), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(TestShell().output,
              kBanner + SuccessLines(spec.width, spec.height, count, scratch / "out.bmp"));
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, stars));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    EXPECT_EQ(TestShell().drawsTaken, stars.size() * 4);
    GetParam().check(TestShell(), PixelBytesOf(spec));
    ExpectNothingHeld();
}

// The headers take 54 bytes of reads; they and the 84-byte gap go to the
// output by the copy that the rows' copy follows.
constexpr int64_t kHeaderReads = 54;
constexpr int64_t kPrefixBytes = 138;

INSTANTIATE_TEST_SUITE_P(
    Paths, StoreSaveTest,
    testing::Values(
        StoreCase{"KernelCopy", [](TestShellState&) {},
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.readBytes, kHeaderReads) << "a row was read back";
                      EXPECT_EQ(shell.copiedBytes, kPrefixBytes + pixelBytes);
                  }},
        StoreCase{"SizeUnknown", [](TestShellState& shell) { shell.hideFileSizes = true; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      // Read once from the stream into the scratch file, then copied.
                      EXPECT_EQ(shell.readBytes, kPrefixBytes + pixelBytes);
                      EXPECT_EQ(shell.copiedBytes, kPrefixBytes + pixelBytes);
                  }},
        StoreCase{"KernelCannotCopy", [](TestShellState& shell) { shell.failCopyAt = 0; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.copyCalls, 2) << "asked the kernel again after it refused";
                      EXPECT_GE(shell.readBytes, kPrefixBytes + pixelBytes);
                  }},
        StoreCase{"ShortCopies", [](TestShellState& shell) { shell.copyLimit = 100000; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.copyCalls, 1 + (pixelBytes + 99999) / 100000);
                      EXPECT_EQ(shell.copiedBytes, kPrefixBytes + pixelBytes);
                  }},
        StoreCase{"CopyStallsPartWay",
                  [](TestShellState& shell) {
                      shell.copyLimit = 100000;
                      shell.copyStallAt = 3;
                  },
                  [](const TestShellState& shell, int32_t) {
                      EXPECT_EQ(shell.copiedBytes, kPrefixBytes + 200000);
                  }},
        StoreCase{"CopyRefusedPartWay",
                  [](TestShellState& shell) {
                      shell.copyLimit = 300000;
                      shell.failCopyAt = 2;
                  },
                  [](const TestShellState& shell, int32_t) {
                      EXPECT_EQ(shell.copiedBytes, kPrefixBytes + 300000);
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// Replacing a file, the rows are handed on to the disk piece by piece once
// each 8 MiB piece is final, runs and bands included; the last piece is left
// to the rename. 1603 x 1800 from offset 138 is two pieces, so only the
// file's bytes [138, 8 MiB) are handed on; a new output hands on none.
struct WriteBehindCase {
    const char* name;
    int32_t rounds; // SomeStars over and over: 1 goes as runs, 300 in bands
    bool outputExists;
};

void PrintTo(const WriteBehindCase& c, std::ostream* out) {
    *out << c.name;
}

class WriteBehindTest : public testing::TestWithParam<WriteBehindCase> {};

TEST_P(WriteBehindTest, HandsOnOnlyFinishedPieces) {
    ScratchDirectory scratch;
    BmpSpec spec = LargeSpec();
    spec.height = 1800;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    if (GetParam().outputExists) {
        WriteFileBytes(scratch / "out.bmp", Bytes{'o', 'l', 'd'});
    }
    Feed(SomeStars());
    TestShell().repeatDraws = true;

    const int32_t count = 7 * GetParam().rounds;
    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", count), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, SomeStars()));
    using Range = std::pair<int64_t, int64_t>;
    const std::vector<Range> handedOn = GetParam().outputExists
                                            ? std::vector<Range>{{138, 8 * 1024 * 1024 - 138}}
                                            : std::vector<Range>{};
    EXPECT_EQ(TestShell().writebacks, handedOn);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Saves, WriteBehindTest,
                         testing::Values(WriteBehindCase{"ReplacingAsRuns", 1, true},
                                         WriteBehindCase{"ReplacingInBands", 300, true},
                                         WriteBehindCase{"NewOutput", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

enum FaultLine { kWriteLine, kReadLine, kMemoryLine };

struct StoreFaultCase {
    const char* name;
    void (*configure)(TestShellState& shell);
    FaultLine line = kWriteLine;
    int32_t stars = 7;      // 2000 draws in bands
    bool newOutput = false; // no older file at the output path
};

// By name: printed as raw bytes, the padding would read as uninitialised memory.
void PrintTo(const StoreFaultCase& c, std::ostream* out) {
    *out << c.name;
}

class StoreSaveFaultTest : public testing::TestWithParam<StoreFaultCase> {};

TEST_P(StoreSaveFaultTest, ReportsTheFailureAndKeepsTheOldFile) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const Bytes previous{'o', 'l', 'd'};
    std::vector<std::string> entries{"in.bmp"};
    if (!GetParam().newOutput) {
        WriteFileBytes(scratch / "out.bmp", previous);
        entries.push_back("out.bmp");
    }
    Feed(SomeStars());
    TestShell().repeatDraws = true;
    GetParam().configure(TestShell());

    const int32_t stars = GetParam().stars;
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", stars), PELINDRA_RESULT_FAILED);
    const std::string lines[] = {
        "Error: Cannot write output file '" + (scratch / "out.bmp").string() + "'\n",
        "Error: Cannot read pixel data\n", "Error: Cannot allocate memory for image data\n"};
    const std::string& line = lines[GetParam().line];
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Image size: 1603 x 800 pixels\nAdding " +
                                      std::to_string(stars) + " stars to the image...\n" + line);
    if (!GetParam().newOutput) {
        EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), previous);
    }
    EXPECT_EQ(scratch.Entries(), entries);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StoreSaveFaultTest,
    testing::Values(
        // Writes: file header 0, info header 1, gap 2, then the stars' runs.
        StoreFaultCase{"RunWrite", [](TestShellState& shell) { shell.failWriteAt = 3; }},
        StoreFaultCase{"LaterRunWrite", [](TestShellState& shell) { shell.failWriteAt = 40; }},
        // In bands to a new output: the first band fails, later ones and the
        // close succeed.
        StoreFaultCase{"BandWrite", [](TestShellState& shell) { shell.failWriteAt = 3; },
                       kWriteLine, 2000, true},
        StoreFaultCase{"InputUnreadable",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.readableBytes = kHeaderReads + 1000;
                       },
                       kReadLine},
        StoreFaultCase{"InputUnreadablePartWay",
                       [](TestShellState& shell) {
                           shell.copyLimit = 50000;
                           shell.copyStallAt = 1;
                           shell.readableBytes = kHeaderReads;
                       },
                       kReadLine},
        StoreFaultCase{"BandUnreadable",
                       [](TestShellState& shell) { shell.readableBytes = kHeaderReads + 1000; },
                       kReadLine, 2000},
        StoreFaultCase{"BoundedWrite",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.failWriteAt = 3;
                       }},
        // Blocks: the gap, then the copy's buffer.
        StoreFaultCase{"NoRoomForTheCopyBuffer",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.failAllocationAt = 1;
                       },
                       kMemoryLine},
        // Closing and naming the new file fail inside putting it in place.
        StoreFaultCase{"PutInPlace", [](TestShellState& shell) { shell.failPlaceAt = 0; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Rewriting the input in place: through the new file, the held input keeps
// reading the old file while the new one is written; written directly (the
// directory refuses new names, the new file cannot take the old one's
// identity or place after it was written, or the target is a link to the
// input), the open truncates the very file the rows come from, so the image
// is made whole in another file first.
struct InPlaceCase {
    const char* name;
    const char* target;  // "in.bmp" or "link.bmp" (a link to it)
    int64_t failOpenAt;  // 1 refuses the new file beside the target, for permission
    int64_t failPlaceAt; // 0: the new file cannot take the target's identity or place
};

class StoreInPlaceTest : public testing::TestWithParam<InPlaceCase> {};

TEST_P(StoreInPlaceTest, RewritesTheInput) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::filesystem::create_symlink("in.bmp", scratch / "link.bmp");
    const std::vector<StarDraws> stars = SomeStars();
    Feed(stars);
    TestShell().failOpenAt = GetParam().failOpenAt;
    TestShell().createFailure = kShellFileDenied;
    TestShell().failPlaceAt = GetParam().failPlaceAt;
    TestShell().placeFailure = kShellFileDenied;

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / GetParam().target, 7),
              PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), Expected(spec, stars));
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "link.bmp"));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "link.bmp"}));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Targets, StoreInPlaceTest,
                         testing::Values(InPlaceCase{"ThroughNewFile", "in.bmp", -1, -1},
                                         InPlaceCase{"NoNewNames", "in.bmp", 1, -1},
                                         InPlaceCase{"ReplaceRefused", "in.bmp", -1, 0},
                                         InPlaceCase{"ThroughLink", "link.bmp", -1, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Many stars in many shapes, so that a block a star wrote and the save did not
// know of would show. Draws from a fixed sequence.
struct ManyStarsCase {
    const char* name;
    int32_t width;
    int32_t height;
    uint32_t pixelDataOffset;
    int32_t stars;                 // at random places, or:
    std::vector<StarDraws> placed; // these, which go as runs
    bool asRuns = false;           // as runs, whatever the count
};

void PrintTo(const ManyStarsCase& c, std::ostream* out) {
    *out << c.name;
}

class StoreManyStarsTest : public testing::TestWithParam<ManyStarsCase> {};

TEST_P(StoreManyStarsTest, MatchesTheShapes) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = GetParam().width;
    spec.height = GetParam().height;
    spec.pixelDataOffset = GetParam().pixelDataOffset;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::vector<StarDraws> stars;
    uint32_t state = 12345;
    auto next = [&state]() {
        state = state * 1103515245u + 12345u;
        return static_cast<int32_t>((state >> 8) & 0x7FFFFF);
    };
    const int32_t rows = spec.height < 0 ? -spec.height : spec.height;
    stars = GetParam().placed;
    for (int32_t i = 0; i < GetParam().stars; ++i) {
        const int32_t x = next() % spec.width;
        const int32_t y = next() % rows;
        const int32_t size = next() % 8 + 2;
        stars.push_back({x, y, size, next() % 4});
    }
    Feed(stars);

    const int32_t count = static_cast<int32_t>(stars.size());
    if (GetParam().asRuns) {
        // The job's steps, the drawing forced.
        BmpImage image;
        const std::string output = (scratch / "out.bmp").string();
        BmpHeaderNote note;
        ASSERT_EQ(LoadBmpImage((scratch / "in.bmp").c_str(), &image, &note), kBmpOk);
        BmpSave save;
        ASSERT_EQ(BeginSave(output.c_str(), &image, &save), kBmpOk);
        const JobPlan plan = PlanDrawing(&image, count, kStarsAsRuns);
        const BmpStatus made = MakeImage(&save.output, &image, count, &plan);
        EXPECT_EQ(FinishSave(output.c_str(), &image, &save, made), kBmpOk);
        CloseBmpInput(&image);
    } else {
        ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", count),
                  PELINDRA_RESULT_WRITTEN);
    }
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, stars));
    EXPECT_EQ(TestShell().drawsTaken, stars.size() * 4);
    ExpectReleased();
}

INSTANTIATE_TEST_SUITE_P(
    Images, StoreManyStarsTest,
    testing::Values(
        ManyStarsCase{"FewStarsWideRows", 3001, 40, 54, 12, {}},
        ManyStarsCase{"SomeStarsOddGap", 402, 300, 1000, 40, {}},
        ManyStarsCase{"TopDownPadTwo", 250, -280, 54, 60, {}},
        ManyStarsCase{"MostlyCovered", 120, 200, 54, 900, {}},
        ManyStarsCase{"NarrowTall", 5, 4000, 70, 300, {}},
        // Runs (4812-byte rows, starting 138 or 54 bytes
        // in) around a page's first byte and its last, on
        // the first and last rows; an offset pointing into
        // the headers, so the rows follow them.
        ManyStarsCase{"SquareStartsAPage", 1603, 800, 138, 0, {{851, 11, 9, 0}, {845, 5, 3, 1}}},
        ManyStarsCase{"SquareEndsAPage", 1603, 800, 138, 0, {{1180, 7, 5, 1}}},
        ManyStarsCase{"FirstAndLastRows", 1603, 800, 138, 0, {{800, 0, 4, 2}, {3, 799, 6, 0}}},
        ManyStarsCase{
            "OffsetInsideTheHeaders", 1603, 800, 0, 0, {{879, 11, 9, 0}, {1208, 7, 5, 1}}},
        ManyStarsCase{"OffsetJustShortOfTheRows", 1603, 800, 53, 0, {{873, 5, 3, 3}}},
        ManyStarsCase{"ThousandOddStarsAsRuns", 1603, 800, 138, 1100, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A file that ends inside its rows is refused before anything else is held.
TEST(StoreLoad, ShortFileIsRefusedBeforeReserving) {
    ScratchDirectory scratch;
    Bytes file = MakeBmp(LargeSpec());
    file.erase(file.end() - 6, file.end()); // the five trailing bytes and one pixel byte
    WriteFileBytes(scratch / "in.bmp", file);

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 1603 x 800 pixels\nError: Cannot read pixel data\n");
    EXPECT_EQ(TestShell().allocationCalls, 0);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
}

} // namespace

namespace {

// Written directly, the image is made whole first; an input that no longer
// holds its rows fails the save before the target (here the input itself) is
// opened.
TEST(StoreInPlace, InputThatCannotBeReadWholeIsLeftAlone) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    const Bytes original = MakeBmp(spec);
    WriteFileBytes(scratch / "in.bmp", original);
    std::filesystem::create_symlink("in.bmp", scratch / "link.bmp");
    Feed(SomeStars());
    TestShell().failCopyAt = 0;
    TestShell().readableBytes = kHeaderReads + 100000;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "link.bmp", 7), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 1603 x 800 pixels\nAdding 7 stars to the "
                                      "image...\nError: Cannot read pixel data\n");
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), original);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "link.bmp"}));
    ExpectNothingHeld();
}

// The input cut or rewritten in place while the stars are drawn, by this
// process or another. Rows then fail to arrive, or would come from other
// contents: one error line, nothing written or replaced.
struct CutCase {
    const char* name;
    int32_t stars; // 7 go as runs; 2000 in bands
    bool fromChild;
    bool rewrite = false; // rewritten at the same size, over an older output
};

void PrintTo(const CutCase& c, std::ostream* out) {
    *out << c.name;
}

class InputCutTest : public testing::TestWithParam<CutCase> {};

TEST_P(InputCutTest, NeverCrashesAndWritesOnlyWhatWasRead) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::vector<StarDraws> stars = SomeStars();
    stars.resize(static_cast<size_t>(GetParam().stars), StarDraws{900, 500, 9, 2});
    Feed(stars);
    TestShell().cutAtDraw = 0;
    TestShell().cutPath = (scratch / "in.bmp").string();
    TestShell().cutLength = GetParam().rewrite ? -1 : 100; // a cut inside the gap
    TestShell().cutFromChild = GetParam().fromChild;
    std::vector<std::string> entries{"in.bmp"};
    if (GetParam().rewrite) {
        WriteFileBytes(scratch / "out.bmp", Bytes{'o', 'l', 'd'});
        entries.push_back("out.bmp");
    }

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", GetParam().stars),
              PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Image size: 1603 x 800 pixels\nAdding " +
                                      std::to_string(GetParam().stars) +
                                      " stars to the image...\nError: Cannot read pixel data\n");
    EXPECT_EQ(scratch.Entries(), entries);
    if (GetParam().rewrite) {
        EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), (Bytes{'o', 'l', 'd'}));
    }
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Modes, InputCutTest,
                         testing::Values(CutCase{"Runs", 7, false},
                                         CutCase{"RunsByAnotherProcess", 7, true},
                                         CutCase{"Bands", 2000, false},
                                         CutCase{"BandsByAnotherProcess", 2000, true},
                                         CutCase{"RewrittenRuns", 7, false, true},
                                         CutCase{"RewrittenRunsByAnotherProcess", 7, true, true},
                                         CutCase{"RewrittenBands", 2000, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

// The platform's files as the rows use them: reads at offsets that stop at
// the end of the file, kernel copies to an offset or where the file stands,
// and scratch files in TMPDIR that have no name and take their bytes back.
TEST(RowServices, ReadCopyAndScratch) {
    ScratchDirectory scratch;
    Bytes original(300 * 1024 + 17);
    for (size_t i = 0; i < original.size(); ++i) {
        original[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    }
    WriteFileBytes(scratch / "source.bin", original);
    ShellFile* file = nullptr;
    ASSERT_EQ(shell.FileOpen((scratch / "source.bin").c_str(), kShellOpenRead, &file),
              kShellFileDone);
    Bytes read(original.size());
    EXPECT_EQ(shell.FileReadAt(file, read.data(), original.size(), 0), original.size());
    EXPECT_EQ(read, original);
    EXPECT_EQ(shell.FileReadAt(file, read.data(), 100, static_cast<int64_t>(original.size()) - 40),
              40u);
    EXPECT_EQ(shell.FileClose(file), 0);

    const char* saved = std::getenv("TMPDIR");
    const std::string folder = saved == nullptr ? "" : saved;
    ASSERT_EQ(setenv("TMPDIR", scratch.path.c_str(), 1), 0);
    ShellFile* spare = nullptr;
    ASSERT_EQ(shell.FileOpen("ignored", kShellOpenScratch, &spare), kShellFileDone);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"source.bin"});
    EXPECT_EQ(shell.FileWriteAt(spare, "scratch", 7, 5000), 7u);
    char back[8] = {};
    EXPECT_EQ(shell.FileReadAt(spare, back, 7, 5000), 7u);
    EXPECT_STREQ(back, "scratch");
    EXPECT_EQ(shell.FileClose(spare), 0);
    EXPECT_EQ(saved == nullptr ? unsetenv("TMPDIR") : setenv("TMPDIR", folder.c_str(), 1), 0);

    // Copies land at the offset asked for, or where the file stands.
    ShellFile* from = nullptr;
    ShellFile* to = nullptr;
    ASSERT_EQ(shell.FileOpen((scratch / "source.bin").c_str(), kShellOpenRead, &from),
              kShellFileDone);
    ASSERT_EQ(shell.FileOpen((scratch / "copy.bin").c_str(), kShellOpenWrite, &to), kShellFileDone);
    ASSERT_EQ(shell.FileWriteAt(to, "ab", 2, kShellAtPosition), 2u);
    EXPECT_EQ(shell.FileCopyRange(from, 5000, 40000, to, kShellAtPosition), 40000);
    EXPECT_EQ(shell.FileCopyRange(from, 45000, 30000, to, 40002), 30000);
    EXPECT_EQ(shell.FileCopyRange(from, static_cast<int64_t>(original.size()), 10, to, 70002), 0)
        << "nothing past the end";
    EXPECT_EQ(shell.FileClose(from), 0);
    EXPECT_EQ(shell.FileClose(to), 0);
    Bytes expected{'a', 'b'};
    expected.insert(expected.end(), original.begin() + 5000, original.begin() + 75000);
    EXPECT_EQ(ReadFileBytes(scratch / "copy.bin"), expected);
    ExpectReleased();
}

} // namespace
