// Draws taken many at once from the real runtime generator are the very
// values rand() gives one at a time, and leave the generator where rand()
// would, whatever state the host set up. Programs of their own, of one
// thread, the way that draws without the generator's lock; built a second
// time with a rand() of the program's own in front of the C library's.
#include "platform/platform_calls.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#if defined(__GLIBC__) && __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

#if PELINDRA_PROGRAMS_OWN_RAND
namespace {
int gNextValue = 0;
} // namespace
void srand(unsigned seed) noexcept {
    gNextValue = static_cast<int>(seed);
}
int rand() noexcept {
    return gNextValue++;
}
#endif

namespace {

struct GeneratorCase {
    const char* name;
    size_t stateBytes; // 0: the runtime's own state; else one set up by initstate
    unsigned seed;
    int32_t count;
};

class RandomDrawsTest : public testing::TestWithParam<GeneratorCase> {};

TEST_P(RandomDrawsTest, AreTheRuntimeSequenceAndLeaveItsPlace) {
#if defined(__GLIBC__) && __has_include(<sys/single_threaded.h>)
    ASSERT_NE(__libc_single_threaded, 0) << "only the one-thread draws are tested here";
#endif
    const GeneratorCase& generator = GetParam();
    alignas(8) static char state[256];
    char* const runtimeState = generator.stateBytes == 0
                                   ? nullptr
                                   : initstate(generator.seed, state, generator.stateBytes);
    std::srand(generator.seed);
    std::vector<int32_t> expected(static_cast<size_t>(generator.count) + 1);
    for (int32_t& value : expected) {
        value = std::rand();
    }
    std::srand(generator.seed);
    std::vector<int32_t> drawn(static_cast<size_t>(generator.count) + 1, -1);
    shell.RandomDraws(drawn.data(), generator.count);
    drawn.back() = std::rand(); // where the generator was left
    EXPECT_TRUE(drawn == expected);
    if (runtimeState != nullptr) {
        setstate(runtimeState);
    }
}

INSTANTIATE_TEST_SUITE_P(States, RandomDrawsTest,
                         testing::Values(GeneratorCase{"NoDraws", 0, 1, 0},
                                         GeneratorCase{"OneDraw", 0, 1, 1},
                                         // Many times round the runtime's 31-word table.
                                         GeneratorCase{"ManyDraws", 0, 2026, 100000},
                                         // The host's own state, of every kind initstate makes:
                                         // one word (a plain congruential generator) up to 63.
                                         GeneratorCase{"OneWordState", 8, 7, 1000},
                                         GeneratorCase{"SevenWordState", 32, 7, 1000},
                                         GeneratorCase{"FifteenWordState", 64, 7, 1000},
                                         GeneratorCase{"SixtyThreeWordState", 256, 7, 1000}),
                         [](const testing::TestParamInfo<GeneratorCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
