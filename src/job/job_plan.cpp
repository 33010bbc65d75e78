#include "job/job_plan.h"

namespace {

// A star's runs are a dozen or so small writes, each to a page of its own in an image of any width.
// From one star per this many pages of rows on, reading and writing every band costs less than
// those writes beside the kernel's copy (where the two break even: docs/performance.md).
constexpr int64_t kBandPagesPerStar = 20;
constexpr int64_t kPageBytes = 4096;

// The bands hold this many stars at most; more are drawn in passes over the output, which bounds
// their memory whatever the star count.
constexpr int32_t kBandPoolStars = 1 << 20;

// A band buffer holds kStarBandRows rows; wider rows would grow it past what the job should take.
constexpr int32_t kWidestBandedStride = 64 * 1024;

} // namespace

JobPlan PlanDrawing(const BmpImage* image, int32_t starCount, StarDrawing drawing) {
    JobPlan plan = {};
    plan.drawing = kStarsAsRuns;
    if (drawing == kStarsInBands && starCount > 0) {
        plan.poolStars = starCount < kBandPoolStars ? starCount : kBandPoolStars;
        plan.bands = PlanStarBands(image->rows, static_cast<size_t>(image->stride), plan.poolStars);
        const int64_t bandBytes = int64_t{kStarBandRows} * image->stride;
        plan.bandRowsBytes = bandBytes < image->pixelBytes ? bandBytes : image->pixelBytes;
        plan.drawing = plan.bands.bytes > 0 ? kStarsInBands : kStarsAsRuns;
    }
    return plan;
}

JobPlan PlanJob(const BmpImage* image, int32_t starCount) {
    const int64_t pages = (int64_t{image->pixelBytes} + kPageBytes - 1) / kPageBytes;
    if (starCount <= 0 || image->stride > kWidestBandedStride ||
        starCount * kBandPagesPerStar < pages) {
        return PlanDrawing(image, starCount, kStarsAsRuns);
    }
    // Bands never take more memory than their rows: a small image's few stars go as runs.
    const JobPlan banded = PlanDrawing(image, starCount, kStarsInBands);
    const int64_t memory = static_cast<int64_t>(banded.bands.bytes) + banded.bandRowsBytes;
    return memory <= image->pixelBytes ? banded : PlanDrawing(image, starCount, kStarsAsRuns);
}
