// The Windows C runtime's draws as reproduced here, and the job run on them:
// the same seed must give the same picture, four draws per star, headers and
// unlit pixels passed through, and nothing but star colours drawn.
#include "morvane_pelindra.h"
#include "msvcrt_draws.h"
#include "platform/platform_calls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr size_t kHeadersSize = 54;

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(stream),
                                      std::istreambuf_iterator<char>());
}

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string OutputPath(const std::string& name) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string testName = test->name();
    for (char& c : testName) {
        c = c == '/' ? '-' : c;
    }
    return ::testing::TempDir() + "pelindra-msvcrt-" + testName + "-" + name + ".bmp";
}

// Runs the job after seeding the draws as srand(seed) would on Windows.
std::vector<unsigned char> RunJob(const std::string& input, uint32_t seed, int32_t stars,
                                  const std::string& name) {
    const std::string output = OutputPath(name);
    std::remove(output.c_str());
    SeedMsvcrtDraws(seed);
    const int32_t result = Pelindra(Widen(input).c_str(), Widen(output).c_str(), stars);
    EXPECT_EQ(result, PELINDRA_RESULT_WRITTEN);
    std::vector<unsigned char> bytes = ReadFile(output);
    std::remove(output.c_str());
    return bytes;
}

int32_t Draw() {
    int32_t value = 0;
    shell.RandomDraws(&value, 1);
    return value;
}

TEST(MsvcrtDraws, FollowTheRuntimeSequenceAfterSeedOne) {
    SeedMsvcrtDraws(1);
    const std::vector<int32_t> expected = {41,    18467, 6334,  26500, 19169,
                                           15724, 11478, 29358, 26962, 24464};
    for (int32_t value : expected) {
        EXPECT_EQ(Draw(), value);
    }
    EXPECT_EQ(MsvcrtDrawsTaken(), 10);
}

TEST(MsvcrtDraws, StayWithinFifteenBits) {
    SeedMsvcrtDraws(0xFFFFFFFFu);
    for (int i = 0; i < 100000; ++i) {
        const int32_t value = Draw();
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 0x7FFF);
    }
}

TEST(MsvcrtDraws, SeedZeroStartsFromTheIncrement) {
    SeedMsvcrtDraws(0);
    EXPECT_EQ(Draw(), static_cast<int32_t>((2531011u >> 16) & 0x7FFF));
}

struct JobCase {
    const char* name;
    const char* input;
    uint32_t seed;
    int32_t stars;
};

void PrintTo(const JobCase& job, std::ostream* stream) {
    *stream << job.name;
}

class JobOnMsvcrtDraws : public ::testing::TestWithParam<JobCase> {};

TEST_P(JobOnMsvcrtDraws, TakesFourDrawsPerStarAndDrawsOnlyStarColours) {
    const auto& [name, input, seed, stars] = GetParam();
    const std::vector<unsigned char> original = ReadFile(input);
    ASSERT_GT(original.size(), kHeadersSize);

    const std::vector<unsigned char> drawn = RunJob(input, seed, stars, "drawn");
    EXPECT_EQ(MsvcrtDrawsTaken(), 4 * static_cast<int64_t>(stars));
    ASSERT_EQ(drawn.size(), original.size());
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + kHeadersSize, drawn.begin()));

    // Pixels are blue, green, red; the three star colours are white, pale
    // yellow and pale blue.
    const std::set<std::tuple<int, int, int>> starColours = {
        {255, 255, 255}, {200, 255, 255}, {255, 220, 200}};
    const size_t pixelOffset = original[10] | original[11] << 8;
    const int32_t width = original[18] | original[19] << 8;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t stride = (rowBytes + 3) / 4 * 4;
    size_t changedPixels = 0;
    for (size_t row = pixelOffset; row + stride <= drawn.size(); row += stride) {
        for (size_t at = row; at < row + rowBytes; at += 3) {
            if (drawn[at] != original[at] || drawn[at + 1] != original[at + 1] ||
                drawn[at + 2] != original[at + 2]) {
                ++changedPixels;
                EXPECT_EQ(starColours.count({drawn[at], drawn[at + 1], drawn[at + 2]}), 1u)
                    << "pixel at byte " << at;
            }
        }
        // Row padding passes through.
        for (size_t at = row + rowBytes; at < row + stride; ++at) {
            EXPECT_EQ(drawn[at], original[at]);
        }
    }
    EXPECT_GT(changedPixels, static_cast<size_t>(stars));
}

TEST_P(JobOnMsvcrtDraws, SameSeedSamePictureOtherSeedOtherPicture) {
    const auto& [name, input, seed, stars] = GetParam();
    const std::vector<unsigned char> first = RunJob(input, seed, stars, "first");
    const std::vector<unsigned char> second = RunJob(input, seed, stars, "second");
    const std::vector<unsigned char> other = RunJob(input, seed + 1, stars, "other");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
}

INSTANTIATE_TEST_SUITE_P(
    Images, JobOnMsvcrtDraws,
    ::testing::Values(JobCase{"NightSky", PELINDRA_NIGHT_SKY_BMP, 2026u, 60},
                      JobCase{"NightSkyCrowded", PELINDRA_NIGHT_SKY_BMP, 7u, 1500},
                      JobCase{"OddWidth", PELINDRA_ODD_WIDTH_BMP, 12345u, 25}),
    [](const ::testing::TestParamInfo<JobCase>& info) { return std::string(info.param.name); });

} // namespace
