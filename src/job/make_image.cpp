#include "job/make_image.h"

#include "job/star_draws.h"
#include "platform/platform_calls.h"
#include "render/star_bands.h"
#include "render/star_runs.h"

namespace {

// The draws are taken a batch of stars at a time, in the order they would be one at a time. The
// generator locks its state, which makes the processor wait for every pending write; batching
// leaves the writes of many stars to overlap.
constexpr int32_t kBatchStars = 256;

// The stars still to come from the generator, a batch at a time.
struct StarBatches {
    StarDivisors divisors;
    int32_t left; // counted down from the total: no running sum can overflow
    int32_t draws[kBatchStars * kDrawsPerStar];
    Star batch[kBatchStars];
};

// Takes the next batch; its size, 0 once every star was taken.
int32_t NextBatch(StarBatches* stars) {
    const int32_t count = stars->left < kBatchStars ? stars->left : kBatchStars;
    stars->left -= count;
    shell.RandomDraws(stars->draws, count * kDrawsPerStar);
    for (int32_t i = 0; i < count; ++i) {
        stars->batch[i] = StarFromDraws(&stars->draws[i * kDrawsPerStar], &stars->divisors);
    }
    return count;
}

// Pieces of rows handed on to the disk end on the file's multiples of this: the requests cost
// nothing beside the copying, and the disk starts early.
constexpr int64_t kWriteBehindBytes = 8 * 1024 * 1024;

// Hands on the whole pieces below `written` not handed on yet, never the one that ends the rows,
// where the output writes behind.
void HandOn(const BmpOutput* output, const BmpImage* image, int64_t written, int64_t* handedOn) {
    if (!output->writeBehind) {
        return;
    }
    const int64_t lastStart =
        (image->pixelOffset + image->pixelBytes - 1) / kWriteBehindBytes * kWriteBehindBytes;
    int64_t end = (image->pixelOffset + written) / kWriteBehindBytes * kWriteBehindBytes;
    end = (end < lastStart ? end : lastStart) - image->pixelOffset;
    if (end > *handedOn) {
        shell.FileStartWriteback(output->file, image->pixelOffset + *handedOn, end - *handedOn);
        *handedOn = end;
    }
}

// Where the piece of rows from `start` ends: at the file's next multiple of kWriteBehindBytes where
// the output writes behind, at `end` at the latest.
int64_t PieceEnd(const BmpOutput* output, const BmpImage* image, int64_t start, int64_t end) {
    const int64_t boundary =
        ((image->pixelOffset + start) / kWriteBehindBytes + 1) * kWriteBehindBytes -
        image->pixelOffset;
    return output->writeBehind && boundary < end ? boundary : end;
}

// Writes the runs of one star, cut to bytes [from, to) of the rows.
BmpStatus WriteStarRuns(const BmpOutput* output, const BmpImage* image, const Star& star,
                        int64_t from, int64_t to) {
    // Every pixel of a star lies within kStarLargestSize rows of its centre.
    const int64_t firstRow = star.y - kStarLargestSize;
    if ((star.y + kStarLargestSize + 1) * int64_t{image->stride} <= from ||
        firstRow * image->stride >= to) {
        return kBmpOk;
    }
    StarWindow window;
    DrawStarWindow(&window, image->width, image->rows, star.x, star.y, star.size, star.colour.red,
                   star.colour.green, star.colour.blue);
    for (int32_t i = 0; i < window.runCount; ++i) {
        const StarRun& run = window.runs[i];
        const int64_t start = int64_t{run.row} * image->stride + int64_t{run.column} * 3;
        const int64_t end = start + int64_t{run.pixels} * 3;
        const int64_t first = start > from ? start : from;
        const int64_t last = end < to ? end : to;
        if (first < last &&
            !WriteBytesAt(output->file, StarRunBytes(&window, run) + (first - start), last - first,
                          image->pixelOffset + first)) {
            return kBmpCannotWriteOutput;
        }
    }
    return kBmpOk;
}

// Copies the input's rows [start, end) into the output as they are, the rows before `end` being
// final then, and hands them on.
BmpStatus CopyRows(const BmpOutput* output, const BmpImage* image, int64_t start, int64_t end,
                   int64_t* handedOn) {
    const int64_t offset = image->pixelOffset + start;
    const BmpStatus status =
        CopyBytes(image->input, offset, output->file, offset, end - start, kBmpCannotReadPixels);
    HandOn(output, image, end, handedOn);
    return status;
}

// Stars up to this many are listed first where the output writes behind.
constexpr int32_t kListedStars = 64 * 1024;

// The rows copied, then every star's runs written over them. Where the output hands rows on (and
// they reach past their first piece), the stars are listed first and the rows go piece by piece,
// each piece's runs written before it is handed on, so that no page handed on is written again (it
// would go out twice, the second time inside the rename).
BmpStatus DrawAsRuns(const BmpOutput* output, const BmpImage* image, StarBatches* stars) {
    const int64_t rows = image->pixelBytes;
    const bool piecewise = !output->holdsRows && PieceEnd(output, image, 0, rows) < rows &&
                           stars->left <= kListedStars;
    const int32_t listing = piecewise ? stars->left : 0;
    Star* listed =
        listing > 0
            ? static_cast<Star*>(shell.Allocate(static_cast<size_t>(listing) * sizeof(Star)))
            : nullptr;
    if (listing > 0 && listed == nullptr) {
        return kBmpCannotAllocatePixels;
    }
    for (int32_t total = 0; total < listing;) {
        const int32_t count = NextBatch(stars);
        for (int32_t i = 0; i < count; ++i) {
            listed[total++] = stars->batch[i];
        }
    }
    int64_t handedOn = 0;
    BmpStatus status = kBmpOk;
    for (int64_t start = 0; status == kBmpOk && start < rows;) {
        const int64_t end = piecewise ? PieceEnd(output, image, start, rows) : rows;
        if (!output->holdsRows) {
            status = CopyBytes(image->input, image->pixelOffset + start, output->file,
                               image->pixelOffset + start, end - start, kBmpCannotReadPixels);
        }
        for (int32_t i = 0; i < listing && status == kBmpOk; ++i) {
            status = WriteStarRuns(output, image, listed[i], start, end);
        }
        while (status == kBmpOk && stars->left > 0) {
            const int32_t count = NextBatch(stars);
            for (int32_t i = 0; i < count && status == kBmpOk; ++i) {
                status = WriteStarRuns(output, image, stars->batch[i], 0, rows);
            }
        }
        HandOn(output, image, end, &handedOn);
        start = end;
    }
    shell.Release(listed);
    return status;
}

// Bands and the buffer one band's rows are read into, drawn and written from.
struct BandWork {
    StarBands* bands;
    uint8_t* rows;
    // The output holds every row: after the first pass, or from the start.
    bool outputWhole;
    int64_t handedOn; // rows handed on to the disk in the first pass
};

// Draws the stars added to the bands so far and empties them. The first pass reads each band with
// stars from the input and copies the rest; later ones read back and rewrite the output's.
BmpStatus DrawPass(const BmpOutput* output, const BmpImage* image, BandWork* work) {
    const int64_t bandBytes = int64_t{kStarBandRows} * image->stride;
    ShellFile* source = work->outputWhole ? output->file : image->input;
    const BmpStatus readFailure = work->outputWhole ? kBmpCannotWriteOutput : kBmpCannotReadPixels;
    int64_t copyFrom = 0; // where the rows not yet copied or drawn start
    BmpStatus status = kBmpOk;
    for (int32_t band = 0; band < work->bands->bandCount && status == kBmpOk; ++band) {
        if (!StarBandHasStars(work->bands, band)) {
            continue;
        }
        const int64_t start = band * bandBytes;
        const int64_t end =
            start + bandBytes < image->pixelBytes ? start + bandBytes : int64_t{image->pixelBytes};
        const size_t length = static_cast<size_t>(end - start);
        status =
            work->outputWhole ? kBmpOk : CopyRows(output, image, copyFrom, start, &work->handedOn);
        copyFrom = end;
        if (status == kBmpOk &&
            shell.FileReadAt(source, work->rows, length, image->pixelOffset + start) != length) {
            status = readFailure;
        }
        if (status == kBmpOk) {
            DrawStarBand(work->bands, band, work->rows);
            const bool written =
                WriteBytesAt(output->file, work->rows, end - start, image->pixelOffset + start);
            status = written ? kBmpOk : kBmpCannotWriteOutput;
        }
    }
    if (status == kBmpOk && !work->outputWhole) {
        status = CopyRows(output, image, copyFrom, image->pixelBytes, &work->handedOn);
    }
    work->outputWhole = true;
    EmptyStarBands(work->bands);
    return status;
}

BmpStatus DrawInBands(const BmpOutput* output, const BmpImage* image, StarBatches* stars,
                      BandWork* work) {
    BmpStatus status = kBmpOk;
    while (status == kBmpOk && stars->left > 0) {
        const int32_t count = NextBatch(stars);
        for (int32_t i = 0; i < count && status == kBmpOk; ++i) {
            const Star& star = stars->batch[i];
            const StarColour colour = star.colour;
            if (!StarInShapes(star.x, star.y, star.size)) {
                // Bands take only stars in shapes: this one is drawn alone, over all before it.
                status = DrawPass(output, image, work);
                status = status == kBmpOk ? WriteStarRuns(output, image, star, 0, image->pixelBytes)
                                          : status;
            } else if (!AddStarToBands(work->bands, star.x, star.y, star.size, colour.red,
                                       colour.green, colour.blue)) {
                status = DrawPass(output, image, work);
                AddStarToBands(work->bands, star.x, star.y, star.size, colour.red, colour.green,
                               colour.blue);
            }
        }
    }
    return status == kBmpOk ? DrawPass(output, image, work) : status;
}

} // namespace

BmpStatus MakeImage(const BmpOutput* output, const BmpImage* image, int32_t starCount,
                    const JobPlan* plan) {
    // The headers and the gap go as the input holds them: its stamp, checked once the image is
    // made, vouches that they are what was read.
    const BmpStatus start = output->holdsRows ? kBmpOk
                                              : CopyBytes(image->input, 0, output->file, 0,
                                                          image->pixelOffset, kBmpCannotReadPixels);
    if (start != kBmpOk) {
        return start;
    }
    StarBatches stars;
    stars.divisors = MakeStarDivisors(image);
    stars.left = starCount > 0 ? starCount : 0;
    if (plan->drawing == kStarsAsRuns) {
        return DrawAsRuns(output, image, &stars);
    }
    void* memory = shell.Allocate(plan->bands.bytes);
    uint8_t* rows =
        memory == nullptr
            ? nullptr
            : static_cast<uint8_t*>(shell.Allocate(static_cast<size_t>(plan->bandRowsBytes)));
    BmpStatus status = kBmpOk;
    if (rows == nullptr) {
        status = DrawAsRuns(output, image, &stars);
    } else {
        BandWork work = {
            StartStarBands(&plan->bands, memory, image->width, image->rows, image->pad), rows,
            output->holdsRows, 0};
        status = DrawInBands(output, image, &stars, &work);
    }
    shell.Release(rows);
    shell.Release(memory);
    return status;
}
