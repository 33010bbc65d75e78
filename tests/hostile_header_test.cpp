// Headers written to hurt: dimensions at and around zero, one and the ends of
// the 32-bit range, pixel data offsets pointing nowhere sensible, bit counts
// and compressions the library does not handle. Each must be refused with its
// line or handled, never crash, and never make the loader reserve more memory
// than the file itself holds.
#include "bmp_files.h"
#include "job_invariants.h"

#include <climits>

namespace {

using std::filesystem::path;

// Headers only, with `offset` as the pixel data offset, followed by `tail`
// bytes: enough pixels for the small images, far too few for the large ones.
Bytes HostileFile(int32_t width, int32_t height, uint32_t offset, uint16_t bitCount = 24,
                  uint32_t compression = 0, size_t tail = 96) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.bitCount = bitCount;
    spec.compression = compression;
    spec.withPixels = false;
    Bytes bytes = MakeBmp(spec);
    PutLittleEndian32(bytes, 10, offset);
    for (size_t i = 0; i < tail; ++i) {
        bytes.push_back(static_cast<uint8_t>(0x5A + i));
    }
    return bytes;
}

// Runs the job on `file` with stars drawn everywhere, and checks what must hold
// whatever the header says. Returns the job's result.
int32_t RunAndCheck(const Bytes& file) {
    ResetTestShell();
    TestShell().draws = {INT32_MAX, 0, 7, 1, 5, INT32_MAX, 0, 2};
    TestShell().repeatDraws = true;
    ScratchDirectory scratch;
    const path input = scratch / "in.bmp";
    const path output = scratch / "out.bmp";
    WriteFileBytes(input, file);

    const int32_t result = RunPelindra(input, output, 4);
    const std::string& printed = TestShell().output;
    if (result == PELINDRA_RESULT_WRITTEN) {
        EXPECT_EQ(CountErrorLines(printed), 0) << printed;
        const Bytes written = ReadFileBytes(output);
        EXPECT_EQ(static_cast<int64_t>(written.size()), DeclaredOutputSize(file));
        EXPECT_TRUE(written.size() >= 54 &&
                    std::equal(file.begin(), file.begin() + 54, written.begin()))
            << "the headers did not pass through unchanged";
    } else {
        EXPECT_EQ(result, PELINDRA_RESULT_FAILED);
        ExpectOneErrorLineLast(printed);
        EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    }
    ExpectNothingHeld();
    EXPECT_LE(TestShell().largestAllocation, static_cast<int64_t>(file.size()))
        << "reserved more memory than the file holds";
    return result;
}

const int32_t kHostileWidths[] = {INT32_MIN, INT32_MIN + 1, -1,       0, 1, 2, 3,
                                  4,         0x40000000,    INT32_MAX};
const int32_t kHostileHeights[] = {INT32_MIN, INT32_MIN + 1, -2,       -1, 0, 1,
                                   2,         0x40000000,    INT32_MAX};
const uint32_t kHostileOffsets[] = {0, 1, 53, 54, 55, 138, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};

class HostileDimensionsTest : public testing::TestWithParam<int32_t> {};

TEST_P(HostileDimensionsTest, EveryHeightAndOffsetIsRefusedOrHandled) {
    int written = 0;
    int tried = 0;
    for (int32_t height : kHostileHeights) {
        for (uint32_t offset : kHostileOffsets) {
            SCOPED_TRACE("width " + std::to_string(GetParam()) + ", height " +
                         std::to_string(height) + ", offset " + std::to_string(offset));
            written +=
                RunAndCheck(HostileFile(GetParam(), height, offset)) == PELINDRA_RESULT_WRITTEN;
            ++tried;
        }
    }
    RecordProperty("headers_tried", tried);
    RecordProperty("headers_written", written);
}

INSTANTIATE_TEST_SUITE_P(Widths, HostileDimensionsTest, testing::ValuesIn(kHostileWidths));

TEST(HostileFormats, EveryBitCountAndCompressionIsRefusedOrHandled) {
    int tried = 0;
    for (uint16_t bitCount : {0, 1, 4, 8, 16, 23, 24, 25, 32, 48, 0xFFFF}) {
        for (uint32_t compression : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 0xFFFFFFFFu}) {
            SCOPED_TRACE("bit count " + std::to_string(bitCount) + ", compression " +
                         std::to_string(compression));
            const int32_t result = RunAndCheck(HostileFile(2, 2, 54, bitCount, compression));
            EXPECT_EQ(result == PELINDRA_RESULT_WRITTEN, bitCount == 24 && compression == 0);
            ++tried;
        }
    }
    RecordProperty("headers_tried", tried);
}

// The lines chosen headers must give, beside the refusals the job tests cover.
struct HostileCase {
    const char* name;
    Bytes file;
    std::string lines; // after the banner; "" for a successful job
};

void PrintTo(const HostileCase& hostile, std::ostream* out) {
    *out << hostile.name;
}

const std::string kTooLarge = "Error: Image is too large (pixel data over 2147483647 bytes)\n";

std::vector<HostileCase> HostileCases() {
    return {
        {"WidestRow", HostileFile(INT32_MAX, 1, 54),
         "Image size: 2147483647 x 1 pixels\n" + kTooLarge},
        {"TallestImage", HostileFile(1, INT32_MAX, 54),
         "Image size: 1 x 2147483647 pixels\n" + kTooLarge},
        {"RowBytesWrapTo32Bits", HostileFile(0x40000000, 1, 54),
         "Image size: 1073741824 x 1 pixels\n" + kTooLarge},
        {"NegativeHeightOfLargestMagnitude", HostileFile(1, INT32_MIN + 1, 54),
         "Image size: 1 x 2147483647 pixels\n" + kTooLarge},
        // Rows times stride beyond 2^63: wrapped, it would keep 4 bytes for
        // the pixels and let the stars write gigabytes past them.
        {"PixelBytesPastSixtyFourBits", HostileFile(2147483646, 1610612735, 54, 24, 0, 4),
         "Image size: 2147483646 x 1610612735 pixels\n" + kTooLarge},
        {"LowestWidth", HostileFile(INT32_MIN, 1, 54),
         "Image size: -2147483648 x 1 pixels\nError: Image width must be positive (found "
         "-2147483648)\n"},
        {"MinusOneWidth", HostileFile(-1, 1, 54),
         "Image size: -1 x 1 pixels\nError: Image width must be positive (found -1)\n"},
        {"GapOfLargestOffset", HostileFile(1, 1, 0x7FFFFFFF),
         "Image size: 1 x 1 pixels\nError: Cannot read header data\n"},
        {"OneByteShortOfHeadersMeansNoGap", HostileFile(1, 1, 53), ""},
        {"LargestOffsetWrapsToNoGap", HostileFile(1, -1, 0xFFFFFFFF), ""},
        {"OffsetZero", HostileFile(1, 1, 0), ""},
        {"BitCountZero", HostileFile(1, 1, 54, 0),
         "Error: Only 24-bit BMP files are supported (found 0-bit)\n"},
        {"BitCountOne", HostileFile(1, 1, 54, 1),
         "Error: Only 24-bit BMP files are supported (found 1-bit)\n"},
        {"BitCountSixteen", HostileFile(1, 1, 54, 16),
         "Error: Only 24-bit BMP files are supported (found 16-bit)\n"},
        {"BitCountTwentyFive", HostileFile(1, 1, 54, 25),
         "Error: Only 24-bit BMP files are supported (found 25-bit)\n"},
        {"CompressionSix", HostileFile(1, 1, 54, 24, 6),
         "Error: Only uncompressed BMP files are supported\n"},
    };
}

class HostileHeaderTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileHeaderTest, PrintsItsLine) {
    const HostileCase& hostile = GetParam();
    const int32_t result = RunAndCheck(hostile.file);
    if (hostile.lines.empty()) {
        EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN) << TestShell().output;
    } else {
        EXPECT_EQ(TestShell().output, kBanner + hostile.lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, HostileHeaderTest, testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
