// The pixel store: where the rows of a regular input file are held, and the
// reads that fill it, whole or a page at a time.
#include "bmp/bmp_image.h"

#include "shell/runtime_services.h"

namespace {

// Reads pages [firstPage, endPage) of the store from the input.
BmpStatus ReadPages(const BmpImage* image, int32_t firstPage, int32_t endPage) {
    int32_t start = 0;
    int32_t end = 0;
    PageRunBytes(image, firstPage, endPage, &start, &end);
    const size_t length = static_cast<size_t>(end - start);
    if (shell.FileReadAt(image->input, image->pixels + start, length, image->pixelOffset + start) !=
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
    for (int32_t page = firstPage; page <= lastPage;) {
        const bool loaded = image->loadedPages[page] != 0;
        const int32_t runEnd = PageRunEnd(image, page, lastPage + 1);
        if (!loaded && ReadPages(image, page, runEnd) != kBmpOk) {
            return kBmpCannotReadPixels;
        }
        page = runEnd;
    }
    return kBmpOk;
}

} // namespace

void PageRunBytes(const BmpImage* image, int32_t firstPage, int32_t endPage, int32_t* start,
                  int32_t* end) {
    const int64_t first = int64_t{firstPage} * kBmpPageBytes - image->pagePhase;
    const int64_t last = int64_t{endPage} * kBmpPageBytes - image->pagePhase;
    *start = first < 0 ? 0 : static_cast<int32_t>(first);
    *end = last > image->pixelBytes ? image->pixelBytes : static_cast<int32_t>(last);
}

int32_t PageRunEnd(const BmpImage* image, int32_t page, int32_t limit) {
    const uint8_t loaded = image->loadedPages[page];
    int32_t end = page + 1;
    while (end < limit && image->loadedPages[end] == loaded) {
        ++end;
    }
    return end;
}

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
    shell.Release(image->loadedPages);
    image->loadedPages = nullptr;
    CloseBmpInput(image);
    return kBmpOk;
}

BmpStatus CheckInputUnchanged(const BmpImage* image) {
    if (image->held != kBmpRowsOnDemand || image->input == nullptr) {
        return kBmpOk;
    }
    ShellFileStamp now;
    shell.FileRemaining(image->input, &now);
    const ShellFileStamp& then = image->inputStamp;
    const bool same = now.device == then.device && now.file == then.file && now.size == then.size &&
                      now.modified == then.modified && now.changed == then.changed;
    return same ? kBmpOk : kBmpCannotReadPixels;
}

void CloseBmpInput(BmpImage* image) {
    if (image->input != nullptr) {
        shell.FileClose(image->input);
        image->input = nullptr;
    }
}

void ReleaseBmpImage(BmpImage* image) {
    shell.Release(image->loadedPages);
    image->loadedPages = nullptr;
    if (image->held == kBmpRowsInBlock) {
        shell.Release(image->pixels);
    } else {
        shell.ReleaseStore(image->store, image->storeBytes);
    }
    image->store = nullptr;
    image->pixels = nullptr;
    shell.Release(image->gapBlock);
    image->gapBlock = nullptr;
    CloseBmpInput(image);
}
