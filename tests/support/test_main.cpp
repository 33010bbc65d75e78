#include "test_shell.h"

#include <gtest/gtest.h>

namespace {

// Every test starts from a substitute with no faults, no draws and no output.
class ResetShellListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        ResetTestShell();
    }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ResetShellListener);
    return RUN_ALL_TESTS();
}
