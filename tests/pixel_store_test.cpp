// The pixel store at its seams. A job with few stars for its image reads only
// the pages its stars land on and saves by kernel copy; each way that can
// fail is forced through the substitute: the kernel copy, the bounded reads
// that replace it, the buffer they need, and the writes of the drawn pages.
// Every path must write the same bytes and print the same lines, and a failed
// save must leave the old target alone. Then the input cut while stars are
// drawn, in both modes, and last the store's own services.
#include "bmp_files.h"
#include "job_runner.h"
#include "shell/runtime_services.h"
#include "star_shapes.h"

#include "job/job_plan.h"
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
// bytes starting part-way into a page: large enough that a few stars read
// their pages on demand.
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
    EXPECT_EQ(TestShell().stores, TestShell().storeReleases);
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

// Headers and gap take 138 bytes of reads; the seven stars read at most two
// pages for each of their rows.
constexpr int64_t kHeaderReads = 138;
constexpr int64_t kStarPageReads = 7 * 19 * 2 * 4096;

INSTANTIATE_TEST_SUITE_P(
    Paths, StoreSaveTest,
    testing::Values(
        StoreCase{"KernelCopy", [](TestShellState&) {},
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.stores, 1);
                      EXPECT_EQ(shell.wholeStores, 0) << "few stars read the rows whole";
                      EXPECT_GT(shell.readBytes, kHeaderReads);
                      EXPECT_LE(shell.readBytes, kHeaderReads + kStarPageReads);
                      EXPECT_EQ(shell.copiedBytes, pixelBytes);
                  }},
        StoreCase{"SizeUnknown", [](TestShellState& shell) { shell.hideFileSizes = true; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.stores, 0);
                      EXPECT_EQ(shell.readBytes, kHeaderReads + pixelBytes);
                  }},
        StoreCase{"KernelCannotCopy", [](TestShellState& shell) { shell.failCopyAt = 0; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.copyCalls, 1) << "asked the kernel again after it refused";
                      EXPECT_GE(shell.readBytes, kHeaderReads + pixelBytes);
                  }},
        StoreCase{"ShortCopies", [](TestShellState& shell) { shell.copyLimit = 100000; },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.copyCalls, (pixelBytes + 99999) / 100000);
                      EXPECT_EQ(shell.copiedBytes, pixelBytes);
                  }},
        StoreCase{
            "CopyStallsPartWay",
            [](TestShellState& shell) {
                shell.copyLimit = 100000;
                shell.copyStallAt = 2;
            },
            [](const TestShellState& shell, int32_t) { EXPECT_EQ(shell.copiedBytes, 200000); }},
        StoreCase{
            "CopyRefusedPartWay",
            [](TestShellState& shell) {
                shell.copyLimit = 300000;
                shell.failCopyAt = 1;
            },
            [](const TestShellState& shell, int32_t) { EXPECT_EQ(shell.copiedBytes, 300000); }},
        StoreCase{"NoRoomForTheCopyBuffer",
                  [](TestShellState& shell) {
                      shell.failCopyAt = 0;
                      shell.failAllocationAt = 3; // gap block, store, page record, copy buffer
                  },
                  [](const TestShellState& shell, int32_t pixelBytes) {
                      EXPECT_EQ(shell.allocationCalls, 4);
                      EXPECT_EQ(shell.readBytes, kHeaderReads + pixelBytes) << "read once each";
                  }}),
    [](const auto& info) { return std::string(info.param.name); });

// Replacing a file, the rows are handed on to the disk piece by piece as
// each 8 MiB piece is final; the last piece is left to the rename. 1603 x 1800
// from offset 138 is two pieces, so only the file's bytes [138, 8 MiB) are
// handed on, whichever way the rows are written; a new output hands on none.
// Rows held whole are given back as they are written by the image's last
// write, and only then: a refused replace writes them again in place.
struct WriteBehindCase {
    const char* name;
    int32_t rounds; // SomeStars over and over: 1 reads pages on demand, 16 the rows whole
    bool outputExists;
    bool kernelCopies;
    bool replaceRefused = false;
};

void PrintTo(const WriteBehindCase& c, std::ostream* out) {
    *out << c.name; // as raw bytes, the padding would read as uninitialised memory
}

class StoreWriteBehindTest : public testing::TestWithParam<WriteBehindCase> {};

TEST_P(StoreWriteBehindTest, HandsOnOrGivesBackTheFinishedPieces) {
    ScratchDirectory scratch;
    BmpSpec spec = LargeSpec();
    spec.height = 1800;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    if (GetParam().outputExists) {
        WriteFileBytes(scratch / "out.bmp", Bytes{'o', 'l', 'd'});
    }
    Feed(SomeStars());
    TestShell().repeatDraws = true;
    TestShell().failCopyAt = GetParam().kernelCopies ? -1 : 0;
    TestShell().failPlaceAt = GetParam().replaceRefused ? 0 : -1;
    TestShell().placeFailure = kShellFileDenied;

    const int32_t count = 7 * GetParam().rounds;
    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", count), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, SomeStars()));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    EXPECT_EQ(TestShell().wholeStores, GetParam().rounds > 1 ? 1 : 0);
    using Range = std::pair<int64_t, int64_t>;
    const std::vector<Range> handedOn = GetParam().outputExists
                                            ? std::vector<Range>{{138, 8 * 1024 * 1024 - 138}}
                                            : std::vector<Range>{};
    EXPECT_EQ(TestShell().writebacks, handedOn);
    const bool lastWriteFromStore =
        GetParam().rounds > 1 && (!GetParam().outputExists || GetParam().replaceRefused);
    EXPECT_EQ(TestShell().storeBytesGivenBack, lastWriteFromStore ? PixelBytesOf(spec) : 0);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Saves, StoreWriteBehindTest,
    testing::Values(WriteBehindCase{"ReplacingByKernelCopy", 1, true, true},
                    WriteBehindCase{"ReplacingByReads", 1, true, false},
                    WriteBehindCase{"ReplacingRowsHeldWhole", 16, true, true},
                    WriteBehindCase{"ReplaceRefusedRowsHeldWhole", 16, true, true, true},
                    WriteBehindCase{"NewOutput", 1, false, true},
                    WriteBehindCase{"NewOutputRowsHeldWhole", 16, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct StoreFaultCase {
    const char* name;
    void (*configure)(TestShellState& shell);
    bool inputFails = false; // rows to be copied cannot be read, rather than written
    int32_t stars = 7;       // 2000 reads the rows whole
    bool newOutput = false;  // no older file at the output path
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
    const std::string line = GetParam().inputFails ? std::string("Error: Cannot read pixel data\n")
                                                   : "Error: Cannot write output file '" +
                                                         (scratch / "out.bmp").string() + "'\n";
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
        // Writes: file header 0, info header 1, gap 2, then the drawn pages.
        StoreFaultCase{"DrawnPageWrite", [](TestShellState& shell) { shell.failWriteAt = 3; }},
        StoreFaultCase{"LaterDrawnPageWrite", [](TestShellState& shell) { shell.failWriteAt = 5; }},
        // Rows held whole go to a new output in two pieces: the first fails,
        // the second and the close succeed.
        StoreFaultCase{"EarlierPieceOfRowsHeldWhole",
                       [](TestShellState& shell) { shell.failWriteAt = 3; }, false, 2000, true},
        // The stars' pages arrive; the rows copied by reading do not.
        StoreFaultCase{"InputUnreadable",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.readableBytes = kHeaderReads + kStarPageReads + 1000;
                       },
                       true},
        StoreFaultCase{"InputUnreadablePartWay",
                       [](TestShellState& shell) {
                           shell.copyLimit = 50000;
                           shell.copyStallAt = 1;
                           shell.readableBytes = kHeaderReads + kStarPageReads;
                       },
                       true},
        StoreFaultCase{"BoundedWrite",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.failWriteAt = 3;
                       }},
        StoreFaultCase{"WriteFromStoreWithoutBuffer",
                       [](TestShellState& shell) {
                           shell.failCopyAt = 0;
                           shell.failAllocationAt = 3;
                           shell.failWriteAt = 3;
                       }},
        // Closing and naming the new file fail inside putting it in place.
        StoreFaultCase{"PutInPlace", [](TestShellState& shell) { shell.failPlaceAt = 0; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Rewriting the input in place: through the new file, the held input keeps
// reading the old file while the new one is written; written directly (the
// directory refuses new names, the new file cannot take the old one's
// identity or place after it was written, or the target is a link to the
// input), the open truncates the very file the rows
// come from, so every row is read first.
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
    EXPECT_EQ(TestShell().wholeStores, 0);
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
    std::vector<StarDraws> placed; // these, whose rows are read on demand
    bool onDemand = false;         // the rows read on demand, whatever the count
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
    if (GetParam().onDemand) {
        // Bands asked for, but rows read on demand can only be drawn star by star.
        BmpImage image;
        ASSERT_EQ(LoadBmpHeaders((scratch / "in.bmp").c_str(), &image), kBmpOk);
        ASSERT_EQ(LoadBmpRows(&image, kBmpRowsOnDemand), kBmpOk);
        EXPECT_EQ(PlaceStars(&image, count, kStarsInBands), kBmpOk);
        EXPECT_EQ(SaveBmpImage((scratch / "out.bmp").c_str(), &image), kBmpOk);
        ReleaseBmpImage(&image);
    } else {
        ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", count),
                  PELINDRA_RESULT_WRITTEN);
    }
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, stars));
    EXPECT_EQ(TestShell().stores, 1);
    EXPECT_EQ(TestShell().drawsTaken, stars.size() * 4);
    if (!GetParam().placed.empty() || GetParam().onDemand) {
        EXPECT_EQ(TestShell().wholeStores, 0) << "the rows were read whole";
    }
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
        // Rows read on demand, a star's pages at a time
        // (4812-byte rows, starting 138 or 54 bytes in):
        // the square around a star starting on a page's
        // first byte, ending on a page's last, on the
        // first and last rows; an offset pointing into
        // the headers, so the rows follow them.
        ManyStarsCase{"SquareStartsAPage", 1603, 800, 138, 0, {{851, 11, 9, 0}, {845, 5, 3, 1}}},
        ManyStarsCase{"SquareEndsAPage", 1603, 800, 138, 0, {{1180, 7, 5, 1}}},
        ManyStarsCase{"FirstAndLastRows", 1603, 800, 138, 0, {{800, 0, 4, 2}, {3, 799, 6, 0}}},
        ManyStarsCase{
            "OffsetInsideTheHeaders", 1603, 800, 0, 0, {{879, 11, 9, 0}, {1208, 7, 5, 1}}},
        ManyStarsCase{"OffsetJustShortOfTheRows", 1603, 800, 53, 0, {{873, 5, 3, 3}}},
        ManyStarsCase{"ThousandOddStarsOnDemand", 1603, 800, 138, 1100, {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A file that ends inside its rows is refused before any store is reserved.
TEST(StoreLoad, ShortFileIsRefusedBeforeReserving) {
    ScratchDirectory scratch;
    Bytes file = MakeBmp(LargeSpec());
    file.erase(file.end() - 6, file.end()); // the five trailing bytes and one pixel byte
    WriteFileBytes(scratch / "in.bmp", file);

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 1603 x 800 pixels\nError: Cannot read pixel data\n");
    EXPECT_EQ(TestShell().allocationCalls, 1);
    EXPECT_EQ(TestShell().largestAllocation, 84) << "only the gap block";
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
}

} // namespace

namespace {

// Written directly, the rows not yet read are read first; an input that no
// longer holds them fails the save before the target (here the input itself)
// is opened.
TEST(StoreInPlace, InputThatCannotBeReadWholeIsLeftAlone) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    const Bytes original = MakeBmp(spec);
    WriteFileBytes(scratch / "in.bmp", original);
    std::filesystem::create_symlink("in.bmp", scratch / "link.bmp");
    Feed(SomeStars());
    TestShell().readableBytes = kHeaderReads + kStarPageReads;

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "link.bmp", 7), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 1603 x 800 pixels\nAdding 7 stars to the "
                                      "image...\nError: Cannot read pixel data\n");
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), original);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "link.bmp"}));
    ExpectNothingHeld();
}

// The input cut or rewritten in place while the stars are drawn, by this
// process or another. Rows read page by page then fail to arrive, or would
// come from other contents: one error line, nothing written or replaced. Rows
// read whole at the load are all in memory already: the job finishes with the
// picture as it was read.
struct CutCase {
    const char* name;
    int32_t stars; // 7 reads on demand; 2000 reads the rows whole
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

    const int32_t result = RunPelindra(scratch / "in.bmp", scratch / "out.bmp", GetParam().stars);
    const bool whole = TestShell().wholeStores == 1;
    EXPECT_EQ(whole, PlanJob(PixelBytesOf(spec), GetParam().stars).rows == kBmpRowsWhole);
    if (whole) {
        EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN);
        EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, stars));
    } else {
        EXPECT_EQ(result, PELINDRA_RESULT_FAILED);
        EXPECT_EQ(TestShell().output,
                  std::string(kBanner) + "Image size: 1603 x 800 pixels\nAdding " +
                      std::to_string(GetParam().stars) +
                      " stars to the image...\nError: Cannot read pixel data\n");
        EXPECT_EQ(scratch.Entries(), entries);
        if (GetParam().rewrite) {
            EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), (Bytes{'o', 'l', 'd'}));
        }
    }
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, InputCutTest,
    testing::Values(CutCase{"OnDemand", 7, false}, CutCase{"OnDemandByAnotherProcess", 7, true},
                    CutCase{"Whole", 2000, false}, CutCase{"WholeByAnotherProcess", 2000, true},
                    CutCase{"RewrittenOnDemand", 7, false, true},
                    CutCase{"RewrittenOnDemandByAnotherProcess", 7, true, true},
                    CutCase{"RewrittenWhole", 2000, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Cut between two calls of the placement: the stars before the cut are drawn,
// the first one after it whose pages were not read yet fails.
TEST(InputCut, AfterSomeStarsFailsTheNextUnreadPage) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    BmpImage image;
    ASSERT_EQ(LoadBmpHeaders((scratch / "in.bmp").c_str(), &image), kBmpOk);
    ASSERT_EQ(LoadBmpRows(&image, kBmpRowsOnDemand), kBmpOk);
    Feed({{10, 10, 9, 0}, {12, 12, 2, 0}, {1500, 700, 9, 0}});
    EXPECT_EQ(PlaceStars(&image, 1, kStarsOneByOne), kBmpOk);
    ASSERT_EQ(truncate((scratch / "in.bmp").c_str(), 200), 0);
    EXPECT_EQ(PlaceStars(&image, 1, kStarsOneByOne), kBmpOk)
        << "its pages were read with the first star";
    EXPECT_EQ(PlaceStars(&image, 1, kStarsOneByOne), kBmpCannotReadPixels);
    EXPECT_EQ(LoadRemainingPixels(&image), kBmpCannotReadPixels);
    ReleaseBmpImage(&image);
    ExpectReleased();
}

} // namespace

namespace {

// The store's services as the platform gives them: zeroed memory, huge-page
// aligned when it is to be filled whole; reads at offsets that stop at the
// end of the file; kernel copies appended to what was written.
TEST(StoreServices, ReserveReadAndCopy) {
    ScratchDirectory scratch;
    Bytes original(300 * 1024 + 17);
    for (size_t i = 0; i < original.size(); ++i) {
        original[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    }
    WriteFileBytes(scratch / "source.bin", original);

    for (bool whole : {false, true}) {
        uint8_t* block = static_cast<uint8_t*>(shell.ReserveStore(original.size(), whole));
        ASSERT_NE(block, nullptr);
        if (whole) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % (2 * 1024 * 1024), 0u);
        }
        EXPECT_TRUE(std::all_of(block, block + original.size(), [](uint8_t b) { return b == 0; }));
        ShellFile* file = nullptr;
        ASSERT_EQ(shell.FileOpen((scratch / "source.bin").c_str(), kShellOpenRead, &file),
                  kShellFileDone);
        EXPECT_EQ(shell.FileReadAt(file, block, original.size(), 0), original.size());
        EXPECT_TRUE(std::equal(original.begin(), original.end(), block));
        EXPECT_EQ(shell.FileReadAt(file, block, 100, static_cast<int64_t>(original.size()) - 40),
                  40u);
        EXPECT_EQ(shell.FileClose(file), 0);
        // Given back, the whole pages inside the range read as new ones; the
        // bytes around them, on the same pages as the ends, stay.
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        RealShell().GiveBackStorePages(block + page + 100, 3 * page - 200);
        EXPECT_TRUE(std::equal(original.begin() + 40, original.begin() + 2 * page, block + 40));
        EXPECT_TRUE(
            std::all_of(block + 2 * page, block + 3 * page, [](uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::equal(original.begin() + 3 * page, original.end(), block + 3 * page));
        shell.ReleaseStore(block, original.size());
    }

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
