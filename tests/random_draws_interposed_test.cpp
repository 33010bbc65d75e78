// A host may put its own rand() in front of the C library's. The library's
// draws are then that function's values, taken many at once as well.
#include "shell/runtime_services.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

int gNextValue = 0;

} // namespace

// This program's own generator: counts up.
int rand() noexcept {
    return gNextValue++;
}

namespace {

TEST(RandomDrawsInterposed, AreTheHostsOwnValues) {
    gNextValue = 100;
    int32_t values[5] = {};
    ShellRandomDraws(values, 5);
    for (int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(values[i], 100 + i);
    }
    EXPECT_EQ(ShellRandom(), 105);
}

} // namespace
