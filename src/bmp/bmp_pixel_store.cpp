// The pixel store: where the rows of a regular input file are held, and the
// reads that fill it, whole or a page at a time.
#include "bmp/bmp_image.h"

#include "shell/runtime_services.h"

namespace {

// Reads pages [firstPage, endPage) of the store from the input.
BmpStatus ReadPages(const BmpImage* image, int32_t firstPage, int32_t endPage) {
    // Pages are counted from the boundary before the first pixel byte; the
    // first and last hold bytes outside the rows, which stay unread.
    const int64_t start = int64_t{firstPage} * kBmpPageBytes - image->pagePhase;
    const int64_t end = int64_t{endPage} * kBmpPageBytes - image->pagePhase;
    const int64_t first = start < 0 ? 0 : start;
    const int64_t last = end > image->pixelBytes ? image->pixelBytes : end;
    const size_t length = static_cast<size_t>(last - first);
    if (ShellFileReadAt(image->input, image->pixels + first, length, image->pixelOffset + first) !=
        length) {
        return kBmpCannotReadPixels;
    }
    for (int32_t page = firstPage; page < endPage; ++page) {
        image->loadedPages[page] = 1;
    }
    return kBmpOk;
}

// Reads the pages in [firstPage, lastPage] not yet in memory, each run of
// them in one read.
BmpStatus ReadMissingPages(const BmpImage* image, int32_t firstPage, int32_t lastPage) {
    int32_t page = firstPage;
    while (page <= lastPage) {
        if (image->loadedPages[page] != 0) {
            ++page;
            continue;
        }
        int32_t runEnd = page + 1;
        while (runEnd <= lastPage && image->loadedPages[runEnd] == 0) {
            ++runEnd;
        }
        const BmpStatus status = ReadPages(image, page, runEnd);
        if (status != kBmpOk) {
            return status;
        }
        page = runEnd;
    }
    return kBmpOk;
}

} // namespace

BmpStatus LoadPixelBytes(const BmpImage* image, int32_t first, int32_t last) {
    if (image->held != kBmpRowsOnDemand) {
        return kBmpOk;
    }
    if (image->input == nullptr) {
        return kBmpCannotReadPixels; // closed before every page was read
    }
    // 64-bit: near the 2 GiB limit the phase pushes offsets past 32 bits.
    const int64_t firstPage = (int64_t{image->pagePhase} + first) / kBmpPageBytes;
    const int64_t lastPage = (int64_t{image->pagePhase} + last) / kBmpPageBytes;
    return ReadMissingPages(image, static_cast<int32_t>(firstPage), static_cast<int32_t>(lastPage));
}

BmpStatus LoadRemainingPixels(BmpImage* image) {
    if (image->held != kBmpRowsOnDemand) {
        return kBmpOk;
    }
    BmpStatus status = LoadPixelBytes(image, 0, image->pixelBytes - 1);
    if (status == kBmpOk) {
        status = CheckInputUnchanged(image);
    }
    if (status != kBmpOk) {
        return status;
    }
    // Every row is in memory: the record of pages and the input go.
    image->held = kBmpRowsWhole;
    ShellRelease(image->loadedPages);
    image->loadedPages = nullptr;
    CloseBmpInput(image);
    return kBmpOk;
}

BmpStatus CheckInputUnchanged(const BmpImage* image) {
    if (image->held != kBmpRowsOnDemand || image->input == nullptr) {
        return kBmpOk;
    }
    ShellFileStamp now;
    ShellFileRemaining(image->input, &now);
    const ShellFileStamp& then = image->inputStamp;
    const bool same = now.device == then.device && now.file == then.file && now.size == then.size &&
                      now.modified == then.modified && now.changed == then.changed;
    return same ? kBmpOk : kBmpCannotReadPixels;
}

void CloseBmpInput(BmpImage* image) {
    if (image->input != nullptr) {
        ShellFileClose(image->input);
        image->input = nullptr;
    }
}

void ReleaseBmpImage(BmpImage* image) {
    ShellRelease(image->loadedPages);
    image->loadedPages = nullptr;
    if (image->held == kBmpRowsInBlock) {
        ShellRelease(image->pixels);
    } else {
        ShellReleaseStore(image->store, image->storeBytes);
    }
    image->store = nullptr;
    image->pixels = nullptr;
    ShellRelease(image->gapBlock);
    image->gapBlock = nullptr;
    CloseBmpInput(image);
}
