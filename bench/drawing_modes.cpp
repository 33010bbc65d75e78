// The job with its drawing chosen by hand, for finding where drawing in bands
// starts to beat writing each star's runs: load, make, save, as the library
// does them, timed inside one process.
//
//   build-bench/bench/pelindra_drawing_modes INPUT OUTPUT STARS runs|bands [RUNS]
//   build-bench/bench/pelindra_drawing_modes --mode INPUT STARS
//   build-bench/bench/pelindra_drawing_modes --switch INPUT
//
// The first prints the median wall time of RUNS runs (default 5) in
// milliseconds, each after removing the output and a `sync`, with the same
// seed every run. The second prints the drawing the library picks for the
// job, the third the smallest star count it draws in bands.
#include "bmp/bmp_image.h"
#include "job/make_image.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// The job's report lines go to /dev/null; the timing goes to standard error.
void Quiet() {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
}

double RunOnce(const char* input, const char* output, int32_t stars, StarDrawing drawing) {
    std::remove(output);
    sync();
    std::srand(1);
    const auto start = std::chrono::steady_clock::now();
    BmpImage image;
    BmpSave save;
    BmpHeaderNote note;
    if (LoadBmpImage(input, &image, &note) != kBmpOk ||
        BeginSave(output, &image, &save) != kBmpOk) {
        std::exit(1);
    }
    const JobPlan plan = PlanDrawing(&image, stars, drawing);
    const BmpStatus made = MakeImage(&save.output, &image, stars, &plan);
    if (FinishSave(output, &image, &save, made) != kBmpOk) {
        std::exit(1);
    }
    CloseBmpInput(&image);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// The drawing the library picks for `stars` stars into the image at `input`,
// or with `stars` negative the smallest count drawn in bands.
int PrintMode(const char* input, int32_t stars) {
    uint8_t header[kBmpHeadersSize];
    FILE* file = std::fopen(input, "rb");
    if (file == nullptr || std::fread(header, sizeof header, 1, file) != 1) {
        return 1;
    }
    std::fclose(file);
    BmpImage image{};
    if (ComputeBmpGeometry(
            static_cast<int32_t>(ReadLittleEndian32(header + kBmpFileHeaderSize + kBmpWidthOffset)),
            static_cast<int32_t>(
                ReadLittleEndian32(header + kBmpFileHeaderSize + kBmpHeightOffset)),
            &image) != kBmpOk) {
        return 1;
    }
    if (stars >= 0) {
        std::printf("%s\n", PlanJob(&image, stars).drawing == kStarsInBands ? "bands" : "runs");
        return 0;
    }
    int32_t runs = 0; // never in bands
    int32_t bands = INT32_MAX;
    while (bands - runs > 1) {
        const int32_t middle = runs + (bands - runs) / 2;
        (PlanJob(&image, middle).drawing == kStarsInBands ? bands : runs) = middle;
    }
    std::printf("%d\n", bands);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--mode") == 0) {
        return PrintMode(argv[2], std::atoi(argv[3]));
    }
    if (argc == 3 && std::strcmp(argv[1], "--switch") == 0) {
        return PrintMode(argv[2], -1);
    }
    if (argc < 5 || (std::strcmp(argv[4], "runs") != 0 && std::strcmp(argv[4], "bands") != 0)) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT STARS runs|bands [RUNS]\n", argv[0]);
        return 2;
    }
    const int32_t stars = std::atoi(argv[3]);
    const StarDrawing drawing = std::strcmp(argv[4], "bands") == 0 ? kStarsInBands : kStarsAsRuns;
    const int runs = argc > 5 ? std::atoi(argv[5]) : 5;
    Quiet();
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        times.push_back(RunOnce(argv[1], argv[2], stars, drawing));
    }
    std::sort(times.begin(), times.end());
    std::fprintf(stderr, "%.2f\n", times[times.size() / 2]);
    return 0;
}
