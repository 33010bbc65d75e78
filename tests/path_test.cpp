// Paths: conversion to the narrow encoding, and the paths the job refuses.
#include "bmp_files.h"
#include "job_runner.h"
#include "platform/utf16_to_utf8.h"

#include <climits>

namespace {

using std::filesystem::path;

struct ConversionCase {
    const char* name;
    std::u16string wide;
    std::string narrow; // "" with `exact` false: the conversion is refused
    bool exact = true;
};

void PrintTo(const ConversionCase& conversion, std::ostream* out) {
    *out << conversion.name;
}

class Utf16ToUtf8Test : public testing::TestWithParam<ConversionCase> {};

TEST_P(Utf16ToUtf8Test, ConvertsThroughTheTerminator) {
    const ConversionCase& c = GetParam();
    char buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), 'Z');
    const int32_t written = ConvertUtf16ToUtf8(c.wide.c_str(), buffer, sizeof buffer);
    if (!c.exact) {
        EXPECT_EQ(written, kNotRepresentable);
        return;
    }
    ASSERT_EQ(written, static_cast<int32_t>(c.narrow.size() + 1));
    EXPECT_EQ(std::string(buffer), c.narrow);
    EXPECT_EQ(buffer[written], 'Z') << "wrote past the terminator";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf16ToUtf8Test,
    testing::Values(ConversionCase{"Empty", u"", ""},
                    ConversionCase{"Ascii", u"a/b.bmp", "a/b.bmp"},
                    ConversionCase{"TwoBytes", u"\u00e9t\u00e9", "\xc3\xa9t\xc3\xa9"},
                    ConversionCase{"ThreeBytes", u"\u661f", "\xe6\x98\x9f"},
                    ConversionCase{"Pair", u"\U0001F31F", "\xf0\x9f\x8c\x9f"},
                    // Where each length of sequence begins and ends.
                    ConversionCase{"LastOfOneByte", {char16_t{0x7F}}, "\x7f"},
                    ConversionCase{"FirstOfTwoBytes", {char16_t{0x80}}, "\xc2\x80"},
                    ConversionCase{"LastOfTwoBytes", {char16_t{0x7FF}}, "\xdf\xbf"},
                    ConversionCase{"FirstOfThreeBytes", {char16_t{0x800}}, "\xe0\xa0\x80"},
                    ConversionCase{"LastOfThreeBytes", {char16_t{0xFFFF}}, "\xef\xbf\xbf"},
                    ConversionCase{"FirstOfFourBytes",
                                   {char16_t{0xD800}, char16_t{0xDC00}},
                                   "\xf0\x90\x80\x80"},
                    // No UTF-8 holds an unpaired surrogate exactly.
                    ConversionCase{"LoneHigh", std::u16string{u'a', 0xD83C, u'b'}, "", false},
                    ConversionCase{"LoneLow", std::u16string{0xDF1F, u'b'}, "", false},
                    ConversionCase{"HighAtEnd", std::u16string{u'x', 0xD83C}, "", false},
                    ConversionCase{"Reversed", std::u16string{0xDF1F, 0xD83C}, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf16ToUtf8, ReportsFailureWhenTheResultDoesNotFit) {
    char buffer[8];
    EXPECT_EQ(ConvertUtf16ToUtf8(u"\u661f\u661f", buffer, 6), 0); // needs 7
    EXPECT_EQ(ConvertUtf16ToUtf8(u"\u661f\u661f", buffer, 7), 7);
    EXPECT_EQ(ConvertUtf16ToUtf8(u"", buffer, 0), 0);
}

// A path exactly `bytes` long inside `directory`, with a name padded with `fill`.
path PathOfLength(const path& directory, size_t bytes, const std::string& fill = "n") {
    std::string name;
    const size_t prefix = directory.string().size() + 1;
    while (prefix + name.size() + fill.size() <= bytes) {
        name += fill;
    }
    name.append(bytes - prefix - name.size(), 'p');
    return directory / name;
}

struct PathLengthCase {
    const char* name;
    size_t bytes; // once converted
    const char* fill;
};

void PrintTo(const PathLengthCase& length, std::ostream* out) {
    *out << length.name;
}

class PathLengthTest : public testing::TestWithParam<PathLengthCase> {};

// 255 bytes are taken, 256 refused, counted after conversion.
TEST_P(PathLengthTest, TakesUpTo255BytesOnceConverted) {
    ScratchDirectory scratch;
    const PathLengthCase& c = GetParam();
    const path input = PathOfLength(scratch.path, c.bytes, c.fill);
    ASSERT_EQ(input.string().size(), c.bytes);
    WriteFileBytes(input, MakeBmp({}));
    const path output = PathOfLength(scratch.path, 255, "o");
    if (c.bytes <= 255) {
        EXPECT_EQ(RunPelindra(input, output, 0), PELINDRA_RESULT_WRITTEN);
        EXPECT_EQ(ReadFileBytes(output), PassThroughOf({}));
    } else {
        EXPECT_EQ(RunPelindra(input, output, 0), PELINDRA_RESULT_FAILED);
        EXPECT_EQ(TestShell().output,
                  std::string(kBanner) + "Error: The input path is longer than 255 bytes\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, PathLengthTest,
                         testing::Values(PathLengthCase{"Ascii255", 255, "n"},
                                         PathLengthCase{"Ascii256", 256, "n"},
                                         PathLengthCase{"ThreeByteUnits255", 255, "\xe6\x98\x9f"},
                                         PathLengthCase{"ThreeByteUnits256", 256, "\xe6\x98\x9f"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JobPaths, AcceptsNonAsciiPathsThatNeedThreeBytesPerUnit) {
    ScratchDirectory scratch;
    // 254 bytes from fewer than half as many code units.
    const path input = PathOfLength(scratch.path, 254, "\xe6\x98\x9f");
    ASSERT_EQ(input.string().size(), 254u);
    WriteFileBytes(input, MakeBmp({}));
    const path output = scratch / "\xc3\xa9toile.bmp";
    ASSERT_EQ(RunPelindra(input, output, 0), PELINDRA_RESULT_WRITTEN);
    EXPECT_EQ(ReadFileBytes(output), PassThroughOf({}));
    EXPECT_NE(TestShell().output.find("Output saved to: " + output.string() + "\n"),
              std::string::npos);
}

struct RefusedPathCase {
    const char* name;
    bool inputBad;
    bool outputBad;
    size_t length; // the bad path's last part: this many 'q's, or with 0 "s?.bmp"
                   // with a lone surrogate where the '?' is
    std::string line;
};

void PrintTo(const RefusedPathCase& refused, std::ostream* out) {
    *out << refused.name;
}

class RefusedPathTest : public testing::TestWithParam<RefusedPathCase> {};

TEST_P(RefusedPathTest, IsRefusedBeforeAnyFileIsTouched) {
    ScratchDirectory scratch;
    const RefusedPathCase& c = GetParam();
    const path good = scratch / "in.bmp";
    WriteFileBytes(good, MakeBmp({}));
    // The file a lossy conversion would have named instead.
    WriteFileBytes(scratch / "s?.bmp", MakeBmp({}));
    const std::u16string badName =
        c.length > 0 ? std::u16string(c.length, u'q') : std::u16string{u's', 0xD800} + u".bmp";
    const std::u16string badPath = Wide(scratch.path) + u"/" + badName;
    const std::u16string in = c.inputBad ? badPath : Wide(good);
    const std::u16string out = c.outputBad ? badPath : Wide(scratch / "out.bmp");

    EXPECT_EQ(Pelindra(in.c_str(), out.c_str(), 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, kBanner + c.line);
    EXPECT_EQ(TestShell().openCalls, 0);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "s?.bmp"}));
    EXPECT_EQ(ReadFileBytes(scratch / "s?.bmp"), MakeBmp({}));
    ExpectNothingHeld();
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, RefusedPathTest,
    testing::Values(RefusedPathCase{"InputOneByteOver", true, false, 230,
                                    "Error: The input path is longer than 255 bytes\n"},
                    RefusedPathCase{"OutputOneByteOver", false, true, 230,
                                    "Error: The output path is longer than 255 bytes\n"},
                    RefusedPathCase{"BothOverNamesInput", true, true, 300,
                                    "Error: The input path is longer than 255 bytes\n"},
                    RefusedPathCase{"InputEnormous", true, false, 50'000'000,
                                    "Error: The input path is longer than 255 bytes\n"},
                    RefusedPathCase{"InputUnpairedSurrogate", true, false, 0,
                                    "Error: The input path cannot be represented in the "
                                    "system encoding\n"},
                    RefusedPathCase{"OutputUnpairedSurrogate", false, true, 0,
                                    "Error: The output path cannot be represented in the "
                                    "system encoding\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(JobPaths, RefusesAPathThatGrowsPastTheLimitWhenConverted) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    // 100 units, 300 bytes once converted.
    const std::u16string out = Wide(scratch.path) + u"/" + std::u16string(100, u'\u661f');
    const std::u16string in = Wide(scratch / "in.bmp");
    EXPECT_EQ(Pelindra(in.c_str(), out.c_str(), 3), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output,
              std::string(kBanner) + "Error: The output path is longer than 255 bytes\n");
}

TEST(JobPaths, NullPathsAreRefused) {
    ScratchDirectory scratch;
    const std::u16string path16 = Wide(scratch / "out.bmp");
    EXPECT_EQ(Pelindra(nullptr, path16.c_str(), 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Error: No input path given\n");

    ResetTestShell();
    EXPECT_EQ(Pelindra(path16.c_str(), nullptr, 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Error: No output path given\n");

    ResetTestShell();
    EXPECT_EQ(Pelindra(nullptr, nullptr, INT_MAX), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Error: No input path given\n");
    EXPECT_EQ(TestShell().openCalls, 0);
    EXPECT_TRUE(scratch.Entries().empty());
}

TEST(JobPaths, FailedInputConversionLeavesTheNameEmpty) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    TestShell().failConversionAt = 0;
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 1), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) + "Error: Cannot open input file ''\n");
}

TEST(JobPaths, FailedOutputConversionEndsWithTheCreateLine) {
    ScratchDirectory scratch;
    WriteFileBytes(scratch / "in.bmp", MakeBmp({}));
    TestShell().failConversionAt = 1;
    EXPECT_EQ(RunPelindra(scratch / "in.bmp", scratch / "out.bmp", 0), PELINDRA_RESULT_FAILED);
    EXPECT_EQ(TestShell().output, std::string(kBanner) +
                                      "Image size: 4 x 3 pixels\nAdding 0 stars to the image...\n"
                                      "Error: Cannot create output file ''\n");
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"in.bmp"});
    ExpectNothingHeld();
}

} // namespace
