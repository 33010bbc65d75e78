// Real files cut at every length from empty to whole. Each length must give the
// error line of the piece it cuts into, or success once only bytes after the
// pixel rows are missing; with the file's size known to the loader and with it
// hidden, as when reading from a pipe.
#include "bmp_files.h"
#include "job_invariants.h"

namespace {

using std::filesystem::path;

struct TruncationCase {
    const char* name;
    BmpSpec spec;
    bool hideFileSizes;
};

void PrintTo(const TruncationCase& truncation, std::ostream* out) {
    *out << truncation.name;
}

BmpSpec Spec(int32_t width, int32_t height, uint32_t offset, size_t trailing) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixelDataOffset = offset;
    spec.trailingBytes = trailing;
    return spec;
}

// Where each piece of the file ends.
struct Layout {
    size_t headersEnd = 54;
    size_t gapEnd;
    size_t pixelsEnd;
};

Layout LayoutOf(const BmpSpec& spec) {
    Layout layout;
    layout.gapEnd = spec.pixelDataOffset > 54 ? spec.pixelDataOffset : 54;
    const size_t rows = static_cast<size_t>(spec.height < 0 ? -spec.height : spec.height);
    layout.pixelsEnd = layout.gapEnd + rows * static_cast<size_t>(StrideOf(spec.width));
    return layout;
}

std::string ExpectedLines(const BmpSpec& spec, size_t length, const path& output) {
    const Layout layout = LayoutOf(spec);
    const int32_t rows = spec.height < 0 ? -spec.height : spec.height;
    const std::string sizeLine =
        "Image size: " + std::to_string(spec.width) + " x " + std::to_string(rows) + " pixels\n";
    if (length < 14) {
        return "Error: Cannot read file header\n";
    }
    if (length < layout.headersEnd) {
        return "Error: Cannot read info header\n";
    }
    if (length < layout.gapEnd) {
        return sizeLine + "Error: Cannot read header data\n";
    }
    if (length < layout.pixelsEnd) {
        return sizeLine + "Error: Cannot read pixel data\n";
    }
    return SuccessLines(spec.width, rows, 0, output);
}

class TruncationSweepTest : public testing::TestWithParam<TruncationCase> {};

TEST_P(TruncationSweepTest, EachLengthGivesTheLineOfThePieceItCuts) {
    const BmpSpec& spec = GetParam().spec;
    const Bytes whole = MakeBmp(spec);
    const Bytes written = PassThroughOf(spec);
    const size_t pixelsEnd = LayoutOf(spec).pixelsEnd;

    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE("cut to " + std::to_string(length) + " of " + std::to_string(whole.size()));
        ResetTestShell();
        TestShell().hideFileSizes = GetParam().hideFileSizes;
        ScratchDirectory scratch;
        const path input = scratch / "in.bmp";
        const path output = scratch / "out.bmp";
        WriteFileBytes(input, Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));

        const int32_t result = RunPelindra(input, output, 0);
        EXPECT_EQ(TestShell().output, kBanner + ExpectedLines(spec, length, output));
        if (length < pixelsEnd) {
            EXPECT_EQ(result, PELINDRA_RESULT_FAILED);
            ExpectOneErrorLineLast(TestShell().output);
            EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
        } else {
            EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN);
            EXPECT_EQ(ReadFileBytes(output), written);
        }
        ExpectNothingHeld();
        if (!GetParam().hideFileSizes) {
            // Knowing the size, the loader never reserves what the file cannot fill.
            EXPECT_LE(TestShell().largestAllocation, static_cast<int64_t>(length));
        }
        if (HasFailure()) {
            break;
        }
    }
    RecordProperty("lengths_tried", static_cast<int>(whole.size() + 1));
}

INSTANTIATE_TEST_SUITE_P(
    Files, TruncationSweepTest,
    testing::Values(TruncationCase{"GapAndPadKnownSize", Spec(5, 3, 138, 6), false},
                    TruncationCase{"GapAndPadUnknownSize", Spec(5, 3, 138, 6), true},
                    TruncationCase{"TopDownPadTwoKnownSize", Spec(6, -2, 54, 3), false},
                    TruncationCase{"TopDownPadTwoUnknownSize", Spec(6, -2, 54, 3), true},
                    TruncationCase{"OffsetBelowHeadersKnownSize", Spec(3, 3, 30, 2), false},
                    TruncationCase{"OffsetBelowHeadersUnknownSize", Spec(3, 3, 30, 2), true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
