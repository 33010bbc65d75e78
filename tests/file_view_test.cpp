// The job on inputs large enough that their rows are viewed and saved by
// kernel copy, with each way that can fail forced through the substitute: the
// view, the kernel copy, the bounded reads that replace it, the buffer they
// need, and the writes of the touched blocks. Every path must write the same
// bytes and print the same lines, and a failed save must leave the old target
// alone. Last, the view itself, small and large.
#include "bmp_files.h"
#include "job_runner.h"
#include "shell/runtime_services.h"
#include "star_shapes.h"

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

// 203 x 600 with a 138-byte header: 612-byte rows (pad 3), 367,200 pixel
// bytes, starting part-way into a block.
BmpSpec LargeSpec() {
    BmpSpec spec;
    spec.width = 203;
    spec.height = 600;
    spec.pixelDataOffset = 138;
    spec.trailingBytes = 5;
    return spec;
}

int32_t PixelBytesOf(const BmpSpec& spec) {
    return StrideOf(spec.width) * (spec.height < 0 ? -spec.height : spec.height);
}

// Stars spread over the image, some over the borders.
std::vector<StarDraws> SomeStars() {
    return {{0, 0, 9, 0},     {202, 599, 7, 1}, {100, 300, 5, 2}, {50, 3, 2, 3},
            {150, 420, 8, 1}, {101, 302, 3, 0}, {7, 90, 6, 2}};
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

void Feed(const std::vector<StarDraws>& stars) {
    TestShell().draws.clear();
    for (const StarDraws& star : stars) {
        TestShell().draws.insert(TestShell().draws.end(),
                                 {star.x, star.y, star.size - 2, star.colour});
    }
}

struct ViewCase {
    const char* name;
    void (*configure)(TestShellState& shell);
    void (*check)(const TestShellState& shell, int32_t pixelBytes);
};

class ViewedSaveTest : public testing::TestWithParam<ViewCase> {};

TEST_P(ViewedSaveTest, WritesTheSameBytesOnEveryPath) {
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

INSTANTIATE_TEST_SUITE_P(
    Paths, ViewedSaveTest,
    testing::Values(
        ViewCase{"KernelCopy", [](TestShellState&) {},
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.maps, 1);
                     EXPECT_EQ(shell.readBytes, 138) << "pixel rows were read, not viewed";
                     EXPECT_EQ(shell.copiedBytes, pixelBytes);
                     EXPECT_EQ(shell.viewReadBytes, 0);
                     EXPECT_LT(shell.largestAllocation, 1024) << "only the block record";
                 }},
        ViewCase{"ViewRefused", [](TestShellState& shell) { shell.failMapAt = 0; },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.maps, 0);
                     EXPECT_EQ(shell.readBytes, 138 + pixelBytes);
                     EXPECT_EQ(shell.largestAllocation, pixelBytes);
                     EXPECT_EQ(shell.copyCalls, 0);
                 }},
        ViewCase{"SizeUnknown", [](TestShellState& shell) { shell.hideFileSizes = true; },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.mapCalls, 0);
                     EXPECT_EQ(shell.readBytes, 138 + pixelBytes);
                 }},
        ViewCase{"KernelCannotCopy", [](TestShellState& shell) { shell.failCopyAt = 0; },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.copyCalls, 1) << "asked the kernel again after it refused";
                     EXPECT_EQ(shell.viewReadBytes, pixelBytes);
                     EXPECT_EQ(shell.largestAllocation, 256 * 1024);
                 }},
        ViewCase{"ShortCopies", [](TestShellState& shell) { shell.copyLimit = 1000; },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.copyCalls, (pixelBytes + 999) / 1000);
                     EXPECT_EQ(shell.copiedBytes, pixelBytes);
                     EXPECT_EQ(shell.viewReadBytes, 0);
                 }},
        ViewCase{"CopyStallsPartWay",
                 [](TestShellState& shell) {
                     shell.copyLimit = 10000;
                     shell.copyStallAt = 2;
                 },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.copiedBytes, 20000);
                     EXPECT_EQ(shell.viewReadBytes, pixelBytes - 20000);
                 }},
        ViewCase{"CopyRefusedPartWay",
                 [](TestShellState& shell) {
                     shell.copyLimit = 30000;
                     shell.failCopyAt = 1;
                 },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.copiedBytes, 30000);
                     EXPECT_EQ(shell.viewReadBytes, pixelBytes - 30000);
                 }},
        ViewCase{"NoRoomForTheCopyBuffer",
                 [](TestShellState& shell) {
                     shell.failCopyAt = 0;
                     shell.failAllocationAt = 2; // gap block, block record, copy buffer
                 },
                 [](const TestShellState& shell, int32_t) {
                     EXPECT_EQ(shell.viewReadBytes, 0);
                     EXPECT_EQ(shell.allocationCalls, 3);
                 }},
        ViewCase{"NoRoomForTheBlockRecord",
                 [](TestShellState& shell) { shell.failAllocationAt = 1; },
                 [](const TestShellState& shell, int32_t pixelBytes) {
                     EXPECT_EQ(shell.mapCalls, 1);
                     EXPECT_EQ(shell.largestAllocation, pixelBytes) << "rows read instead";
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

struct ViewedFaultCase {
    const char* name;
    void (*configure)(TestShellState& shell);
};

class ViewedSaveFaultTest : public testing::TestWithParam<ViewedFaultCase> {};

TEST_P(ViewedSaveFaultTest, ReportsTheWriteAndKeepsTheOldFile) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const Bytes previous{'o', 'l', 'd'};
    WriteFileBytes(scratch / "out.bmp", previous);
    Feed(SomeStars());
    GetParam().configure(TestShell());

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 7), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 203 x 600 pixels\nAdding 7 stars to the image...\n"
                  "Error: Cannot write output file '" +
                  (scratch / "out.bmp").string() + "'\n");
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), previous);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "out.bmp"}));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ViewedSaveFaultTest,
    testing::Values(
        // Writes: file header 0, info header 1, gap 2, then the touched blocks.
        ViewedFaultCase{"TouchedBlockWrite", [](TestShellState& shell) { shell.failWriteAt = 3; }},
        ViewedFaultCase{"LaterTouchedBlockWrite",
                        [](TestShellState& shell) { shell.failWriteAt = 5; }},
        ViewedFaultCase{"InputUnreadable",
                        [](TestShellState& shell) {
                            shell.failCopyAt = 0;
                            shell.viewReadLimit = 1000;
                        }},
        ViewedFaultCase{"InputUnreadablePartWay",
                        [](TestShellState& shell) {
                            shell.copyLimit = 5000;
                            shell.copyStallAt = 1;
                            shell.viewReadLimit = 0;
                        }},
        ViewedFaultCase{"BoundedWrite",
                        [](TestShellState& shell) {
                            shell.failCopyAt = 0;
                            shell.failWriteAt = 3;
                        }},
        ViewedFaultCase{"WriteFromViewWithoutBuffer",
                        [](TestShellState& shell) {
                            shell.failCopyAt = 0;
                            shell.failAllocationAt = 2;
                            shell.failWriteAt = 3;
                        }},
        ViewedFaultCase{"Close", [](TestShellState& shell) { shell.failCloseAt = 1; }},
        ViewedFaultCase{"Rename", [](TestShellState& shell) { shell.failRenameAt = 0; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Rewriting the input in place: through the new file, the view keeps reading
// the old file while the new one is written; written directly (the directory
// refuses new names, the new file cannot take the old one's identity, or the
// target is a link to the input), the open truncates the very file the view
// shows, so the image must hold its own copy first.
struct InPlaceCase {
    const char* name;
    const char* target;     // "in.bmp" or "link.bmp" (a link to it)
    int64_t failOpenAt;     // 1 refuses the new file beside the target, for permission
    int64_t failIdentityAt; // 0: the new file cannot take the target's owner and mode
};

class ViewedInPlaceTest : public testing::TestWithParam<InPlaceCase> {};

TEST_P(ViewedInPlaceTest, RewritesTheInput) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    std::filesystem::create_symlink("in.bmp", scratch / "link.bmp");
    const std::vector<StarDraws> stars = SomeStars();
    Feed(stars);
    TestShell().failOpenAt = GetParam().failOpenAt;
    TestShell().createFailure = kShellFileDenied;
    TestShell().failIdentityAt = GetParam().failIdentityAt;

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / GetParam().target, 7),
              PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(TestShell().maps, 1);
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), Expected(spec, stars));
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "link.bmp"));
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "link.bmp"}));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Targets, ViewedInPlaceTest,
                         testing::Values(InPlaceCase{"ThroughNewFile", "in.bmp", -1, -1},
                                         InPlaceCase{"NoNewNames", "in.bmp", 1, -1},
                                         InPlaceCase{"OtherIdentity", "in.bmp", -1, 0},
                                         InPlaceCase{"ThroughLink", "link.bmp", -1, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Many stars in many shapes, so that a block a star wrote and the save did not
// know of would show. Draws from a fixed sequence.
struct ManyStarsCase {
    const char* name;
    int32_t width;
    int32_t height;
    uint32_t pixelDataOffset;
    int32_t stars;
};

class ViewedManyStarsTest : public testing::TestWithParam<ManyStarsCase> {};

TEST_P(ViewedManyStarsTest, MatchesTheShapes) {
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
    for (int32_t i = 0; i < GetParam().stars; ++i) {
        const int32_t x = next() % spec.width;
        const int32_t y = next() % rows;
        const int32_t size = next() % 8 + 2;
        stars.push_back({x, y, size, next() % 4});
    }
    Feed(stars);

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", GetParam().stars),
              PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), Expected(spec, stars));
    EXPECT_EQ(TestShell().maps, 1);
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(Images, ViewedManyStarsTest,
                         testing::Values(ManyStarsCase{"FewStarsWideRows", 3001, 40, 54, 12},
                                         ManyStarsCase{"SomeStarsOddGap", 402, 300, 1000, 40},
                                         ManyStarsCase{"TopDownPadTwo", 250, -280, 54, 60},
                                         ManyStarsCase{"MostlyCovered", 120, 200, 54, 900},
                                         ManyStarsCase{"NarrowTall", 5, 4000, 70, 300}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file that ends inside its rows is refused before any view is made:
// touching a viewed page past the end of a file is fatal, not a short read.
TEST(ViewedLoad, ShortFileIsRefusedBeforeViewing) {
    ScratchDirectory scratch;
    Bytes file = MakeBmp(LargeSpec());
    file.resize(file.size() - 6); // the five trailing bytes and one pixel byte
    WriteFileBytes(scratch / "in.bmp", file);

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 203 x 600 pixels\nError: Cannot read pixel data\n");
    EXPECT_EQ(TestShell().mapCalls, 0);
    EXPECT_EQ(TestShell().largestAllocation, 84) << "only the gap block";
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
}

} // namespace

namespace {

// Written directly, viewed rows need a heap copy first; without room for it
// the save fails before the target (here the input itself) is opened, and
// says that memory ran out, not that a write failed.
TEST(ViewedInPlace, NoRoomToCopyTheRowsLeavesTheInputWhole) {
    ScratchDirectory scratch;
    const BmpSpec spec = LargeSpec();
    const Bytes original = MakeBmp(spec);
    WriteFileBytes(scratch / "in.bmp", original);
    std::filesystem::create_symlink("in.bmp", scratch / "link.bmp");
    Feed(SomeStars());
    TestShell().failAllocationAt = 2; // gap block, block record, the copy of the rows

    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "link.bmp", 7), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) +
                  "Image size: 203 x 600 pixels\nAdding 7 stars to the image...\n"
                  "Error: Cannot allocate memory for image data\n");
    EXPECT_EQ(ReadFileBytes(scratch / "in.bmp"), original);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "link.bmp"}));
    ExpectNothingHeld();
}

} // namespace

namespace {

struct ViewSizeCase {
    const char* name;
    size_t fileBytes;
};

void PrintTo(const ViewSizeCase& c, std::ostream* out) {
    *out << c.name;
}

class ShellViewTest : public ::testing::TestWithParam<ViewSizeCase> {};

// A view starts part-way into a page, shows the file's bytes, and writing
// through it never reaches the file, whether it is copied when made (small)
// or page by page as it is touched (large).
TEST_P(ShellViewTest, ShowsTheFileAndKeepsWritesPrivate) {
    ScratchDirectory scratch;
    const size_t lead = 138;
    Bytes original(GetParam().fileBytes);
    for (size_t i = 0; i < original.size(); ++i) {
        original[i] = static_cast<uint8_t>(i * 7 + i / 4096);
    }
    WriteFileBytes(scratch / "viewed.bin", original);

    ShellFile* file = ShellFileOpen((scratch / "viewed.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    uint8_t header[lead];
    ASSERT_EQ(ShellFileRead(header, 1, lead, file), lead);
    ShellFileView view;
    ASSERT_EQ(ShellFileMapView(file, original.size() - lead, &view), 0);
    EXPECT_EQ(ShellFileClose(file), 0);

    ASSERT_NE(view.bytes, nullptr);
    EXPECT_EQ(view.offset, static_cast<int64_t>(lead));
    const size_t viewed = original.size() - lead;
    EXPECT_TRUE(std::equal(original.begin() + lead, original.end(), view.bytes));

    // One byte on every page, and the last byte.
    Bytes expected(original.begin() + lead, original.end());
    for (size_t i = 0; i < viewed; i += 4096) {
        expected[i] = static_cast<uint8_t>(~expected[i]);
        view.bytes[i] = expected[i];
    }
    expected[viewed - 1] = static_cast<uint8_t>(~expected[viewed - 1]);
    view.bytes[viewed - 1] = expected[viewed - 1];

    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), view.bytes));
    EXPECT_EQ(ReadFileBytes(scratch / "viewed.bin"), original);
    ShellFileUnmapView(&view);
    EXPECT_EQ(view.bytes, nullptr);
    EXPECT_EQ(ReadFileBytes(scratch / "viewed.bin"), original);
    EXPECT_EQ(TestShell().maps, 1);
    EXPECT_EQ(TestShell().unmaps, 1);
    EXPECT_EQ(TestShell().opens, TestShell().closes);
}

// Around the size up to which a view is copied when it is made (256 KiB).
INSTANTIATE_TEST_SUITE_P(Sizes, ShellViewTest,
                         ::testing::Values(ViewSizeCase{"Small", 100 * 1024},
                                           ViewSizeCase{"LargestCopied", 256 * 1024},
                                           ViewSizeCase{"SmallestLazy", 256 * 1024 + 1},
                                           ViewSizeCase{"Large", 1024 * 1024 + 17}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
