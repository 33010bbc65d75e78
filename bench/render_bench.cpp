// Star drawing and placement: the span renderer (span_stars.cpp, the baseline)
// against the straightforward one, per star size and for a million stars placed
// at random in a 4096 x 4096 image (four draws from the C runtime generator per
// star), and the library's banded placement of dense jobs against span by span.
//
//   build-bench/bench/pelindra_render_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
//
// For span / banded on a shared machine, interleave the runs and compare
// medians of several repetitions:
//
//   pelindra_render_bench --benchmark_filter='PlaceMillionStars_(Spans|Banded)'
//       --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
#include "job/place_stars.h"
#include "render/star_bands.h"
#include "shell/runtime_services.h"
#include "span_stars.h"
#include "straightforward_stars.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

struct HeapImage {
    HeapImage(int32_t width, int32_t height) : bytes() {
        image = BmpImage{};
        image.width = width;
        image.rows = height;
        image.pad = (4 - (width * 3) % 4) % 4;
        image.stride = width * 3 + image.pad;
        image.pixelBytes = image.stride * height;
        bytes.assign(static_cast<size_t>(image.pixelBytes), 0x20);
        image.pixels = bytes.data();
    }
    std::vector<uint8_t> bytes;
    BmpImage image;
};

constexpr int32_t kSide = 4096;
constexpr int32_t kManyStars = 1000000;

// Fast and straightforward placement must agree before either is timed.
bool PlacementsAgree() {
    HeapImage fast(1000, 700);
    HeapImage plain(1000, 700);
    std::srand(99);
    PlaceStarsSpanBySpan(&fast.image, 20000);
    std::srand(99);
    StraightforwardPlaceStars(&plain.image, 20000);
    return fast.bytes == plain.bytes;
}

void BM_PlaceMillionStars_Spans(benchmark::State& state) {
    if (!PlacementsAgree()) {
        state.SkipWithError("span placement differs from the straightforward one");
        return;
    }
    HeapImage picture(kSide, kSide);
    unsigned seed = 1;
    for (auto _ : state) {
        std::srand(seed++);
        PlaceStarsSpanBySpan(&picture.image, kManyStars);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kManyStars);
}
BENCHMARK(BM_PlaceMillionStars_Spans)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same stars added to bands of rows and drawn band by band; the same
// bytes.
void BM_PlaceMillionStars_Banded(benchmark::State& state) {
    HeapImage spans(kSide, kSide);
    HeapImage banded(kSide, kSide);
    std::srand(7);
    PlaceStarsSpanBySpan(&spans.image, kManyStars);
    std::srand(7);
    PlaceStars(&banded.image, kManyStars, kStarsInBands);
    if (spans.bytes != banded.bytes) {
        state.SkipWithError("banded placement differs from the span placement");
        return;
    }
    unsigned seed = 1;
    for (auto _ : state) {
        std::srand(seed++);
        PlaceStars(&banded.image, kManyStars, kStarsInBands);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kManyStars);
}
BENCHMARK(BM_PlaceMillionStars_Banded)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlaceMillionStars_Straightforward(benchmark::State& state) {
    HeapImage picture(kSide, kSide);
    unsigned seed = 1;
    for (auto _ : state) {
        std::srand(seed++);
        StraightforwardPlaceStars(&picture.image, kManyStars);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kManyStars);
}
BENCHMARK(BM_PlaceMillionStars_Straightforward)->Unit(benchmark::kMillisecond)->UseRealTime();

// The four draws alone, to show what part of placement the generator takes:
// one rand() call each, and 1,024 at a time as the banded placement takes
// them (without the generator's lock here, a program of one thread).
void BM_MillionStarDraws(benchmark::State& state) {
    for (auto _ : state) {
        std::srand(1);
        int32_t sum = 0;
        for (int32_t i = 0; i < kManyStars * 4; ++i) {
            sum += std::rand() & 7;
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_MillionStarDraws)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MillionStarDrawsAtOnce(benchmark::State& state) {
    int32_t draws[1024];
    for (auto _ : state) {
        std::srand(1);
        int32_t sum = 0;
        for (int32_t i = 0; i < kManyStars * 4; i += 1024) {
            shell.RandomDraws(draws, 1024);
            sum += draws[0] & 7;
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_MillionStarDrawsAtOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

// One size at a time, in a small image that stays in cache: drawing cost only.
std::vector<int32_t> Centres() {
    std::vector<int32_t> centres;
    for (int32_t i = 0; i < 256; ++i) {
        centres.push_back(12 + (i * 37) % 232);
    }
    return centres;
}

void BM_DrawStar_Spans(benchmark::State& state) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    HeapImage picture(256, 256);
    StarShapes shapes;
    BuildStarShapes(&shapes);
    const std::vector<int32_t> centres = Centres();
    size_t i = 0;
    for (auto _ : state) {
        const PixelCanvas canvas = {picture.image.pixels,   256,  256, 0,   centres[i % 256],
                                    centres[(i + 7) % 256], size, 255, 255, 200};
        DrawStarShape(&canvas, &shapes.bySize[size - kStarSmallestSize]);
        ++i;
    }
    benchmark::ClobberMemory();
}
BENCHMARK(BM_DrawStar_Spans)->DenseRange(2, 9);

void BM_DrawStar_Straightforward(benchmark::State& state) {
    const int32_t size = static_cast<int32_t>(state.range(0));
    HeapImage picture(256, 256);
    const std::vector<int32_t> centres = Centres();
    size_t i = 0;
    for (auto _ : state) {
        const PixelCanvas canvas = {picture.image.pixels,   256,  256, 0,   centres[i % 256],
                                    centres[(i + 7) % 256], size, 255, 255, 200};
        if (size > 4) {
            StraightforwardLargeStar(&canvas);
        } else {
            StraightforwardSmallStar(&canvas);
        }
        ++i;
    }
    benchmark::ClobberMemory();
}
BENCHMARK(BM_DrawStar_Straightforward)->DenseRange(2, 9);

} // namespace

BENCHMARK_MAIN();
