#include "host/host_arguments.h"
#include "host/host_utf.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

HostArguments Parse(std::vector<const char*> words) {
    words.insert(words.begin(), "pelindra");
    return ParseHostArguments(static_cast<int>(words.size()), words.data());
}

TEST(HostArguments, PathsAndCount) {
    const HostArguments a = Parse({"in.bmp", "out.bmp", "12"});
    ASSERT_EQ(a.action, kHostRun);
    EXPECT_EQ(a.inputPath, u"in.bmp");
    EXPECT_EQ(a.outputPath, u"out.bmp");
    EXPECT_EQ(a.starCount, 12);
    EXPECT_FALSE(a.seeded);
    EXPECT_FALSE(a.quiet);
    EXPECT_TRUE(Parse({"-q", "a", "b"}).quiet);
    EXPECT_TRUE(Parse({"a", "b", "--quiet"}).quiet);
}

TEST(HostArguments, CountDefaultsAndTakesSignedValues) {
    EXPECT_EQ(Parse({"a", "b"}).starCount, kDefaultStarCount);
    EXPECT_EQ(Parse({"a", "b", "-5"}).starCount, -5);
    EXPECT_EQ(Parse({"a", "b", "0"}).starCount, 0);
    EXPECT_EQ(Parse({"a", "b", "2147483647"}).starCount, 2147483647);
    EXPECT_EQ(Parse({"a", "b", "-2147483648"}).starCount, INT32_MIN);
    EXPECT_EQ(Parse({"a", "b", "+7"}).starCount, 7);
    EXPECT_EQ(Parse({"a", "b", "007"}).starCount, 7);
}

TEST(HostArguments, DashNamesTheStandardStreams) {
    const HostArguments a = Parse({"-", "-", "3"});
    ASSERT_EQ(a.action, kHostRun);
    EXPECT_TRUE(a.inputIsStandardInput);
    EXPECT_TRUE(a.outputIsStandardOutput);
    const HostArguments b = Parse({"in.bmp", "./-"});
    EXPECT_FALSE(b.inputIsStandardInput);
    EXPECT_FALSE(b.outputIsStandardOutput);
    EXPECT_EQ(b.outputName, "./-");
#if !defined(_WIN32)
    // The system's names of the host's own streams mean '-' too, each its own.
    const HostArguments c = Parse({"/dev/fd/0", "/proc/self/fd/1"});
    EXPECT_TRUE(c.inputIsStandardInput && c.outputIsStandardOutput);
    const HostArguments d = Parse({"/dev/stdout", "/dev/stdin"});
    EXPECT_FALSE(d.inputIsStandardInput || d.outputIsStandardOutput);
#endif
}

TEST(HostArguments, SeedInEitherForm) {
    const HostArguments spaced = Parse({"--seed", "42", "a", "b"});
    ASSERT_EQ(spaced.action, kHostRun);
    EXPECT_TRUE(spaced.seeded);
    EXPECT_EQ(spaced.seed, 42u);
    const HostArguments joined = Parse({"a", "b", "3", "--seed=4294967295"});
    ASSERT_EQ(joined.action, kHostRun);
    EXPECT_EQ(joined.seed, 4294967295u);
}

TEST(HostArguments, HelpAndVersion) {
    EXPECT_EQ(Parse({"--help"}).action, kHostHelp);
    EXPECT_EQ(Parse({"a", "-h"}).action, kHostHelp);
    EXPECT_EQ(Parse({"--version"}).action, kHostVersion);
}

TEST(HostArguments, DoubleDashEndsOptions) {
    const HostArguments a = Parse({"--", "--help", "-x.bmp"});
    ASSERT_EQ(a.action, kHostRun);
    EXPECT_EQ(a.inputPath, u"--help");
    EXPECT_EQ(a.outputPath, u"-x.bmp");
}

// Wide arguments (Windows) reach the paths unchanged through UTF-8, unpaired
// surrogates included.
TEST(HostUtf, WideTextComesBackThroughUtf8) {
    const std::u16string texts[] = {u"in.bmp",
                                    u"\u00e9t\u00e9",
                                    u"\u65e5\u672c",
                                    u"\U0001F600",
                                    std::u16string(1, char16_t{0xD800}),
                                    std::u16string(1, char16_t{0xDFFF}) + u"x",
                                    std::u16string{char16_t{0xDC00}, char16_t{0xD800}}};
    for (const std::u16string& text : texts) {
        std::u16string back;
        ASSERT_TRUE(ConvertUtf8ToUtf16(ConvertUtf16ToUtf8(text), &back));
        EXPECT_EQ(back, text);
    }
    EXPECT_EQ(ConvertUtf16ToUtf8(u"\U0001F600").size(), 4u) << "a pair is one character";
}

TEST(HostArguments, Utf8PathsBecomeUtf16) {
    const HostArguments a = Parse({"\xe6\x98\x9f.bmp", "\xf0\x9f\x8c\x9f.bmp"});
    ASSERT_EQ(a.action, kHostRun);
    EXPECT_EQ(a.inputPath, u"\u661f.bmp");
    EXPECT_EQ(a.outputPath, u"\U0001F31F.bmp");
    // Unpaired surrogates (from a Windows command line) reach the library.
    const HostArguments b = Parse({"\xed\xa0\x80.bmp", "\xed\xbc\x9f\xed\xa0\xbc"});
    ASSERT_EQ(b.action, kHostRun);
    EXPECT_EQ(b.inputPath, u"\xD800.bmp");
    EXPECT_EQ(b.outputPath, u"\xDF1F\xD83C");
}

struct UsageCase {
    const char* name;
    std::vector<const char*> words;
    const char* mentions;
};

void PrintTo(const UsageCase& usage, std::ostream* out) {
    *out << usage.name;
}

class HostUsageErrorTest : public testing::TestWithParam<UsageCase> {};

TEST_P(HostUsageErrorTest, IsRefusedWithAReason) {
    const HostArguments a = Parse(GetParam().words);
    EXPECT_EQ(a.action, kHostUsageError);
    EXPECT_NE(a.error.find(GetParam().mentions), std::string::npos) << a.error;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, HostUsageErrorTest,
    testing::Values(UsageCase{"Nothing", {}, "input and an output"},
                    UsageCase{"OnlyInput", {"a"}, "input and an output"},
                    UsageCase{"CountNotANumber", {"a", "b", "many"}, "star count 'many'"},
                    UsageCase{"CountWithJunk", {"a", "b", "12x"}, "star count '12x'"},
                    UsageCase{"CountEmpty", {"a", "b", ""}, "star count ''"},
                    UsageCase{"CountLeadingSpace", {"a", "b", " 5"}, "star count ' 5'"},
                    UsageCase{"CountTrailingSpace", {"a", "b", "5 "}, "star count '5 '"},
                    UsageCase{"CountSignOnly", {"a", "b", "+"}, "star count '+'"},
                    UsageCase{"CountTwoSigns", {"a", "b", "+-5"}, "star count '+-5'"},
                    UsageCase{"CountHex", {"a", "b", "0x10"}, "star count '0x10'"},
                    UsageCase{"SeedLeadingSpace", {"--seed", " 5", "a", "b"}, "seed ' 5'"},
                    UsageCase{"CountTooBig", {"a", "b", "2147483648"}, "fits in 32 bits"},
                    UsageCase{"CountTooSmall", {"a", "b", "-2147483649"}, "fits in 32 bits"},
                    UsageCase{"TooMany", {"a", "b", "1", "2"}, "too many"},
                    UsageCase{"SeedMissing", {"a", "b", "--seed"}, "--seed needs a value"},
                    UsageCase{"SeedNegative", {"--seed", "-1", "a", "b"}, "seed '-1'"},
                    UsageCase{"SeedTooBig", {"--seed=4294967296", "a", "b"}, "seed '4294967296'"},
                    UsageCase{"UnknownOption", {"--stars", "a", "b"}, "unknown option '--stars'"},
                    UsageCase{"BadUtf8", {"\xff.bmp", "b"}, "not valid UTF-8"},
                    UsageCase{"TruncatedUtf8", {"a", "\xe6\x98"}, "not valid UTF-8"},
                    UsageCase{"SurrogatePair", {"\xed\xa0\xbc\xed\xbc\x9f", "b"}, "valid UTF-8"},
                    UsageCase{"Overlong", {"\xc0\xaf", "b"}, "not valid UTF-8"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
