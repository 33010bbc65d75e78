// The whole job inside one process, on the bundled example with 50 stars:
// load, place, save to a new output and to an output it replaces. This is the
// job's own cost, without starting a process, which bench/small_image.py
// measures from outside.
//
//   build-bench/bench/pelindra_job_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include "morvane_pelindra.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int32_t kStars = 50;

std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The job reports on standard output; the benchmark's own report goes there
// too, after the timed loop, so the job's lines are sent to /dev/null only
// while it runs.
struct QuietStdout {
    QuietStdout() : saved(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
    int saved;
};

void RunJob(benchmark::State& state, bool replace) {
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("pelindra-job-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    const std::filesystem::path output = scratch / "out.bmp";
    const std::u16string input = Utf16(PELINDRA_EXAMPLE_IMAGE);
    const std::u16string target = Utf16(output.string());
    std::srand(1);
    {
        QuietStdout quiet;
        for (auto _ : state) {
            if (!replace) {
                state.PauseTiming();
                unlink(output.c_str());
                state.ResumeTiming();
            }
            if (Pelindra(input.c_str(), target.c_str(), kStars) != PELINDRA_RESULT_WRITTEN) {
                state.SkipWithError("the job failed");
                break;
            }
        }
    }
    std::filesystem::remove_all(scratch);
}

void BM_SmallImageNewOutput(benchmark::State& state) {
    RunJob(state, false);
}
BENCHMARK(BM_SmallImageNewOutput)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_SmallImageReplacingOutput(benchmark::State& state) {
    RunJob(state, true);
}
BENCHMARK(BM_SmallImageReplacingOutput)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
