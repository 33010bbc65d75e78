// The whole job through the exported entry point: what it prints, what it
// returns and what it leaves on disk.
#include "bmp_files.h"
#include "job_runner.h"

#include <sys/stat.h>

namespace {

using std::filesystem::path;

struct RefusalCase {
    const char* name;
    Bytes (*file)();
    std::string lines; // printed after the banner
    bool allocatesNothing;
};

void PrintTo(const RefusalCase& refusal, std::ostream* out) {
    *out << refusal.name;
}

Bytes WithBitCountAndCompression(uint16_t bitCount, uint32_t compression) {
    BmpSpec spec;
    spec.bitCount = bitCount;
    spec.compression = compression;
    return MakeBmp(spec);
}

Bytes Dimensions(int32_t width, int32_t height) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.withPixels = false; // the header alone; most of these could not be held
    return MakeBmp(spec);
}

Bytes Cut(Bytes bytes, size_t length) {
    bytes.resize(length);
    return bytes;
}

const RefusalCase kRefusals[] = {
    {"Empty", [] { return Bytes{}; }, "Error: Cannot read file header\n", true},
    {"ThirteenBytes", [] { return Cut(MakeBmp({}), 13); }, "Error: Cannot read file header\n",
     true},
    {"NotBm",
     [] {
         Bytes bytes = MakeBmp({});
         bytes[0] = 'M';
         bytes[1] = 'B';
         return bytes;
     },
     "Error: Not a valid BMP file\n", true},
    {"NotBmFourteenBytes", [] { return Bytes(14, 'x'); }, "Error: Not a valid BMP file\n", true},
    {"InfoHeaderCut", [] { return Cut(MakeBmp({}), 53); }, "Error: Cannot read info header\n",
     true},
    {"ThirtyTwoBit", [] { return WithBitCountAndCompression(32, 0); },
     "Error: Only 24-bit BMP files are supported (found 32-bit)\n", true},
    {"ThirtyTwoBitAndCompressed", [] { return WithBitCountAndCompression(32, 3); },
     "Error: Only 24-bit BMP files are supported (found 32-bit)\n", true},
    {"LargestBitCount", [] { return WithBitCountAndCompression(65535, 0); },
     "Error: Only 24-bit BMP files are supported (found 65535-bit)\n", true},
    {"Compressed", [] { return WithBitCountAndCompression(24, 1); },
     "Error: Only uncompressed BMP files are supported\n", true},
    {"ZeroWidth", [] { return Dimensions(0, 3); },
     "Image size: 0 x 3 pixels\nError: Image width must be positive (found 0)\n", true},
    {"NegativeWidth", [] { return Dimensions(-4, 3); },
     "Image size: -4 x 3 pixels\nError: Image width must be positive (found -4)\n", true},
    {"ZeroRows", [] { return Dimensions(4, 0); },
     "Image size: 4 x 0 pixels\nError: Image has no rows\n", true},
    {"LowestHeight", [] { return Dimensions(4, INT32_MIN); },
     "Image size: 4 x -2147483648 pixels\nError: Image height is out of range\n", true},
    {"PixelBytesOverflow", [] { return Dimensions(0x40000000, 4); },
     "Image size: 1073741824 x 4 pixels\nError: Image is too large (pixel data over "
     "2147483647 bytes)\n",
     true},
    {"GapBeyondFile",
     [] {
         Bytes bytes = Cut(MakeBmp({}), 54 + 36);
         PutLittleEndian32(bytes, 10, 0x7FFFFFFF);
         return bytes;
     },
     "Image size: 4 x 3 pixels\nError: Cannot read header data\n", true},
    {"GapCut",
     [] {
         BmpSpec spec;
         spec.pixelDataOffset = 138;
         return Cut(MakeBmp(spec), 100);
     },
     "Image size: 4 x 3 pixels\nError: Cannot read header data\n", true},
    {"PixelsCut", [] { return Cut(MakeBmp({}), 54 + 35); },
     "Image size: 4 x 3 pixels\nError: Cannot read pixel data\n", true},
    {"PixelsCutAfterGap",
     [] {
         BmpSpec spec;
         spec.pixelDataOffset = 138;
         return Cut(MakeBmp(spec), 138 + 1);
     },
     "Image size: 4 x 3 pixels\nError: Cannot read pixel data\n", false},
    {"HugeImageInSmallFile", [] { return Dimensions(20000, 20000); },
     "Image size: 20000 x 20000 pixels\nError: Cannot read pixel data\n", true},
};

class JobRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(JobRefusalTest, PrintsOneErrorLineAndCreatesNothing) {
    ScratchDirectory scratch;
    const path input = scratch / "in.bmp";
    const path output = scratch / "out.bmp";
    WriteFileBytes(input, GetParam().file());

    EXPECT_EQ(RunPelindra(input, output, 5), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, kBanner + GetParam().lines);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
    if (GetParam().allocatesNothing) {
        EXPECT_EQ(TestShell().allocations, 0) << "allocated before knowing the file holds it";
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, JobRefusalTest, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Job, MissingInputNamesThePath) {
    ScratchDirectory scratch;
    const path input = scratch / "absent.bmp";
    EXPECT_EQ(RunPelindra(input, scratch / "out.bmp", 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) + "Error: Cannot open input file '" + input.string() + "'\n");
    EXPECT_TRUE(scratch.Entries().empty());
    ExpectNothingHeld();
}

TEST(Job, DirectoryAsInputCannotBeOpened) {
    ScratchDirectory scratch;
    EXPECT_EQ(RunPelindra(scratch.path, scratch / "out.bmp", 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Error: Cannot open input file '" +
                                      scratch.path.string() + "'\n");
    ExpectNothingHeld();
}

struct PassThroughCase {
    const char* name;
    BmpSpec spec;
    int32_t stars;
};

void PrintTo(const PassThroughCase& passThrough, std::ostream* out) {
    *out << passThrough.name;
}

class PassThroughTest : public testing::TestWithParam<PassThroughCase> {};

TEST_P(PassThroughTest, WritesInputUpToItsLastPixelRow) {
    ScratchDirectory scratch;
    const BmpSpec& spec = GetParam().spec;
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", GetParam().stars),
              PELINDRA_RESULT_WRITTEN);
    const int32_t rows = spec.height < 0 ? -spec.height : spec.height;
    EXPECT_EQ(TestShell().output,
              kBanner + SuccessLines(spec.width, rows, GetParam().stars, scratch / "out.bmp"));
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf(spec));
    EXPECT_EQ(TestShell().drawsTaken, 0u);
    ExpectNothingHeld();
}

BmpSpec Spec(int32_t width, int32_t height, uint32_t offset = 54, size_t trailing = 0) {
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    spec.pixelDataOffset = offset;
    spec.trailingBytes = trailing;
    return spec;
}

INSTANTIATE_TEST_SUITE_P(Files, PassThroughTest,
                         testing::Values(PassThroughCase{"ZeroStars", Spec(4, 3), 0},
                                         PassThroughCase{"NegativeStars", Spec(5, 2), -7},
                                         PassThroughCase{"LowestStarCount", Spec(1, 1), INT32_MIN},
                                         PassThroughCase{"TopDown", Spec(3, -4), 0},
                                         PassThroughCase{"LongInfoHeaderGap", Spec(7, 3, 138), 0},
                                         PassThroughCase{"OneByteGap", Spec(2, 2, 55), 0},
                                         PassThroughCase{"OffsetBelowHeaders", Spec(6, 2, 20), 0},
                                         PassThroughCase{"OffsetZero", Spec(6, 2, 0), 0},
                                         PassThroughCase{"TrailingBytesDropped",
                                                         Spec(9, 2, 54, 100), 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Job, RewritesTheInputInPlace) {
    ScratchDirectory scratch;
    const BmpSpec spec = Spec(8, 8, 54, 10);
    WriteFileBytes(scratch / "picture.bmp", MakeBmp(spec));
    TestShell().draws = {3, 4, 0, 0}; // one white small star at (3, 4)

    ASSERT_EQ(RunPelindra(scratch / "picture.bmp", scratch / "picture.bmp", 1),
              PELINDRA_RESULT_WRITTEN);
    Bytes expected = PassThroughOf(spec);
    // Size 2 at (3, 4): bars of five pixels through the centre, four diagonal neighbours.
    for (int32_t i = -2; i <= 2; ++i) {
        PaintPixel(expected, 54, 8, 3 + i, 4, 255, 255, 255);
        PaintPixel(expected, 54, 8, 3, 4 + i, 255, 255, 255);
    }
    for (int32_t d : {-1, 1}) {
        PaintPixel(expected, 54, 8, 3 + d, 4 + d, 255, 255, 255);
        PaintPixel(expected, 54, 8, 3 + d, 4 - d, 255, 255, 255);
    }
    EXPECT_EQ(ReadFileBytes(scratch / "picture.bmp"), expected);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"picture.bmp"});
    ExpectNothingHeld();
}

TEST(Job, KeepsTheReplacedFilesPermissions) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    WriteFileBytes(scratch / "out.bmp", Bytes{1, 2, 3});
    chmod((scratch / "out.bmp").c_str(), 0640);

    ASSERT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_WRITTEN);
    struct stat status {};
    ASSERT_EQ(stat((scratch / "out.bmp").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(scratch / "out.bmp"), PassThroughOf({}));
}

} // namespace
