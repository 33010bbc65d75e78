// Several threads calling the shipped library at once, with its real runtime
// services. The job keeps no state of its own between or across calls; the C
// runtime's generator and standard output are shared, and the temporary names
// beside each output come from one process-wide counter. Built with
// ThreadSanitizer (the "tsan" preset) this also proves there is no data race.
#include "morvane_pelindra.h"

#include "bmp_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

using std::filesystem::path;

constexpr int kThreads = 8;
constexpr int kCallsPerThread = 6;

BmpSpec ImageFor(int thread) {
    BmpSpec spec;
    spec.width = 20 + thread;                 // every pad from 0 to 3
    spec.height = thread % 2 == 0 ? 15 : -15; // bottom-up and top-down
    spec.pixelDataOffset = thread % 3 == 0 ? 138 : 54;
    return spec;
}

// Sends standard output to a file while alive, so the lines of every call can
// be counted afterwards.
class CapturedStdout {
  public:
    explicit CapturedStdout(const path& file) {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int descriptor = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(descriptor, STDOUT_FILENO);
        close(descriptor);
    }
    ~CapturedStdout() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

  private:
    int saved_ = -1;
};

int CountLines(const std::string& text, const std::string& line) {
    int count = 0;
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);) {
        count += each == line;
    }
    return count;
}

void ExpectWrittenFrom(const Bytes& written, const BmpSpec& spec) {
    const Bytes unchanged = PassThroughOf(spec);
    ASSERT_EQ(written.size(), unchanged.size());
    const size_t pixelsStart = spec.pixelDataOffset > 54 ? spec.pixelDataOffset : 54;
    EXPECT_TRUE(std::equal(unchanged.begin(), unchanged.begin() + static_cast<long>(pixelsStart),
                           written.begin()))
        << "headers or gap bytes changed";
}

TEST(ConcurrentCalls, EveryCallWritesItsOwnFile) {
    ScratchDirectory scratch;
    for (int thread = 0; thread < kThreads; ++thread) {
        WriteFileBytes(scratch / ("in" + std::to_string(thread) + ".bmp"),
                       MakeBmp(ImageFor(thread)));
    }
    std::atomic<int> written{0};
    {
        CapturedStdout capture(scratch.path / "stdout.txt");
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&, thread] {
                const std::u16string input =
                    Wide(scratch / ("in" + std::to_string(thread) + ".bmp"));
                for (int call = 0; call < kCallsPerThread; ++call) {
                    // All outputs share one directory, so their temporaries do too.
                    const std::u16string output =
                        Wide(scratch / ("out" + std::to_string(thread) + "-" +
                                        std::to_string(call) + ".bmp"));
                    written +=
                        Pelindra(input.c_str(), output.c_str(), 40) == PELINDRA_RESULT_WRITTEN;
                }
            });
        }
        for (std::thread& each : threads) {
            each.join();
        }
    }
    EXPECT_EQ(written.load(), kThreads * kCallsPerThread);
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int call = 0; call < kCallsPerThread; ++call) {
            SCOPED_TRACE("thread " + std::to_string(thread) + ", call " + std::to_string(call));
            ExpectWrittenFrom(ReadFileBytes(scratch / ("out" + std::to_string(thread) + "-" +
                                                       std::to_string(call) + ".bmp")),
                              ImageFor(thread));
        }
    }
    // Inputs, outputs and the captured output: no temporary left behind.
    EXPECT_EQ(scratch.Entries().size(), static_cast<size_t>(kThreads * (kCallsPerThread + 1) + 1));

    // Lines of different calls may interleave, but each line arrives whole.
    const Bytes printed = ReadFileBytes(scratch / "stdout.txt");
    const std::string text(printed.begin(), printed.end());
    const int calls = kThreads * kCallsPerThread;
    EXPECT_EQ(CountLines(text, "=== Morvane Pelindra ==="), calls);
    EXPECT_EQ(CountLines(text, "Adding 40 stars to the image..."), calls);
    EXPECT_EQ(CountLines(text, "Stars added successfully!"), calls);
}

TEST(ConcurrentCalls, WritersOfOneOutputLeaveOneWholeImage) {
    ScratchDirectory scratch;
    const BmpSpec spec = ImageFor(1);
    WriteFileBytes(scratch / "in.bmp", MakeBmp(spec));
    const std::u16string input = Wide(scratch / "in.bmp");
    const std::u16string output = Wide(scratch / "shared.bmp");
    std::atomic<int> written{0};
    {
        CapturedStdout capture(scratch.path / "stdout.txt");
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&] {
                for (int call = 0; call < kCallsPerThread; ++call) {
                    written +=
                        Pelindra(input.c_str(), output.c_str(), 25) == PELINDRA_RESULT_WRITTEN;
                }
            });
        }
        for (std::thread& each : threads) {
            each.join();
        }
    }
    EXPECT_EQ(written.load(), kThreads * kCallsPerThread);
    ExpectWrittenFrom(ReadFileBytes(scratch / "shared.bmp"), spec);
    EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.bmp", "shared.bmp", "stdout.txt"}));
}

} // namespace
