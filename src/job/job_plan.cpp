#include "job/job_plan.h"

namespace {

// A star's box spans 2 x size + 1 rows, 12 on average over sizes 2 to 9, and
// in an image of any width each row lands on a page of its own: read on its
// own before the star is drawn and written back on its own after the kernel
// copy. From one star per this many pages on, those single-page reads and
// writes cost more than reading the rows whole and writing them from memory
// (where the two break even: docs/performance.md).
constexpr int64_t kWholeReadPagesPerStar = 20;

// Fewer stars than this are drawn straight into the rows: adding them to
// bands costs more than the waits on memory it saves.
constexpr int32_t kBandedMinimumStars = 1024;

BmpRows RowsFor(int32_t pixelBytes, int32_t starCount) {
    if (pixelBytes <= kBmpPageBytes) {
        return kBmpRowsWhole; // one read either way
    }
    if (starCount <= 0) {
        return kBmpRowsOnDemand; // nothing to draw: the save copies the rows in the kernel
    }
    const int64_t pages = (int64_t{pixelBytes} + kBmpPageBytes - 1) / kBmpPageBytes;
    return int64_t{starCount} * kWholeReadPagesPerStar >= pages ? kBmpRowsWhole : kBmpRowsOnDemand;
}

} // namespace

JobPlan PlanJob(int32_t pixelBytes, int32_t starCount) {
    JobPlan plan;
    plan.rows = RowsFor(pixelBytes, starCount);
    // Bands need every row in memory before the first star is drawn; rows read
    // on demand are drawn into star by star, once each star's pages are in.
    plan.drawing = plan.rows == kBmpRowsWhole && starCount >= kBandedMinimumStars ? kStarsInBands
                                                                                  : kStarsOneByOne;
    return plan;
}
