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
#include "job/star_draws.h"
#include "platform/platform_calls.h"
#include "render/star_bands.h"
#include "span_stars.h"
#include "straightforward_stars.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct HeapImage {
    HeapImage(int32_t width, int32_t height) : bytes() {
        image = MemoryImage{};
        image.width = width;
        image.rows = height;
        image.pad = (4 - (width * 3) % 4) % 4;
        image.stride = width * 3 + image.pad;
        image.pixelBytes = image.stride * height;
        bytes.assign(static_cast<size_t>(image.pixelBytes), 0x20);
        image.pixels = bytes.data();
    }
    std::vector<uint8_t> bytes;
    MemoryImage image;
};

// The job's dense drawing, the rows in memory standing for the file: each
// star added to the bands as drawn; when the pool is full and at the end,
// each band with stars copied into one buffer, drawn there and copied back,
// as the job reads, draws and writes it.
void PlaceInBands(const MemoryImage* image, int32_t starCount) {
    const StarBandsLayout layout =
        PlanStarBands(image->rows, static_cast<size_t>(image->stride), starCount);
    std::vector<uint64_t> memory((layout.bytes + 7) / 8);
    StarBands* bands =
        StartStarBands(&layout, memory.data(), image->width, image->rows, image->pad);
    const size_t bandBytes =
        static_cast<size_t>(kStarBandRows) * static_cast<size_t>(image->stride);
    std::vector<uint8_t> rows(bandBytes);
    const StarDivisors divisors = {image->width, image->rows, FactorFor(image->width),
                                   FactorFor(image->rows)};
    auto drawAll = [&]() {
        for (int32_t band = 0; band < bands->bandCount; ++band) {
            if (StarBandHasStars(bands, band)) {
                uint8_t* at = image->pixels + static_cast<size_t>(band) * bandBytes;
                const size_t length = std::min(
                    bandBytes, static_cast<size_t>(image->pixels + image->pixelBytes - at));
                std::memcpy(rows.data(), at, length);
                DrawStarBand(bands, band, rows.data());
                std::memcpy(at, rows.data(), length);
            }
        }
        EmptyStarBands(bands);
    };
    int32_t draws[1024];
    for (int32_t done = 0; done < starCount; done += 256) {
        const int32_t count = starCount - done < 256 ? starCount - done : 256;
        shell.RandomDraws(draws, count * kDrawsPerStar);
        for (int32_t i = 0; i < count; ++i) {
            const Star star = StarFromDraws(&draws[i * kDrawsPerStar], &divisors);
            const StarColour c = star.colour;
            if (!AddStarToBands(bands, star.x, star.y, star.size, c.red, c.green, c.blue)) {
                drawAll();
                AddStarToBands(bands, star.x, star.y, star.size, c.red, c.green, c.blue);
            }
        }
    }
    drawAll();
}

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
    PlaceInBands(&banded.image, kManyStars);
    if (spans.bytes != banded.bytes) {
        state.SkipWithError("banded placement differs from the span placement");
        return;
    }
    unsigned seed = 1;
    for (auto _ : state) {
        std::srand(seed++);
        PlaceInBands(&banded.image, kManyStars);
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
