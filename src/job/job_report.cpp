#include "job/job_report.h"

#include "platform/platform_calls.h"

#include <climits>

namespace {

// What fills a status line's one blank.
enum LineArgument : int8_t { kNoArgument, kPathArgument, kValueArgument, kLimitArgument };

struct StatusLine {
    BmpStatus status;
    LineArgument argument;
    const char* format;
};

constexpr StatusLine kStatusLines[] = {
    {kBmpCannotOpenInput, kPathArgument, "Error: Cannot open input file '%s'\n"},
    {kBmpCannotReadFileHeader, kNoArgument, "Error: Cannot read file header\n"},
    {kBmpNotBmp, kNoArgument, "Error: Not a valid BMP file\n"},
    {kBmpCannotReadInfoHeader, kNoArgument, "Error: Cannot read info header\n"},
    {kBmpUnsupportedBitCount, kValueArgument,
     "Error: Only 24-bit BMP files are supported (found %d-bit)\n"},
    {kBmpCompressed, kNoArgument, "Error: Only uncompressed BMP files are supported\n"},
    {kBmpBadWidth, kValueArgument, "Error: Image width must be positive (found %d)\n"},
    {kBmpNoRows, kNoArgument, "Error: Image has no rows\n"},
    {kBmpHeightOutOfRange, kNoArgument, "Error: Image height is out of range\n"},
    {kBmpTooLarge, kLimitArgument, "Error: Image is too large (pixel data over %d bytes)\n"},
    {kBmpCannotAllocateGap, kNoArgument, "Error: Cannot allocate memory for header\n"},
    {kBmpCannotReadGap, kNoArgument, "Error: Cannot read header data\n"},
    {kBmpCannotAllocatePixels, kNoArgument, "Error: Cannot allocate memory for image data\n"},
    {kBmpCannotReadPixels, kNoArgument, "Error: Cannot read pixel data\n"},
    {kBmpCannotCreateOutput, kPathArgument, "Error: Cannot create output file '%s'\n"},
    {kBmpCannotWriteOutput, kPathArgument, "Error: Cannot write output file '%s'\n"},
};

} // namespace

void ReportBanner() {
    shell.Print("=== Morvane Pelindra ===\n");
    shell.Print("Adds stars to a BMP image\n\n");
}

bool ReportUnusablePath(NarrowPathStatus status, const char* which) {
    switch (status) {
    case kNarrowPathOk:
        return false;
    case kNarrowPathMissing:
        shell.Print("Error: No %s path given\n", which);
        return true;
    case kNarrowPathTooLong:
        shell.Print("Error: The %s path is longer than %d bytes\n", which, kNarrowPathCapacity - 1);
        return true;
    case kNarrowPathNotRepresentable:
        shell.Print("Error: The %s path cannot be represented in the system encoding\n", which);
        return true;
    }
    return true;
}

void ReportHeaders(BmpStatus status, const BmpHeaderNote& note, const char* path) {
    if (note.sized) {
        shell.Print("Image size: %d x %d pixels\n", note.width, note.height);
    }
    ReportStatus(status, path, note.value);
}

void ReportAdding(int32_t starCount) {
    shell.Print("Adding %d stars to the image...\n", starCount);
}

void ReportSaved(const char* outputPath) {
    shell.Print("Stars added successfully!\n");
    shell.Print("Output saved to: %s\n", outputPath);
}

void ReportStatus(BmpStatus status, const char* path, int32_t value) {
    for (const StatusLine& line : kStatusLines) {
        if (line.status != status) {
            continue;
        }
        switch (line.argument) {
        case kNoArgument:
            shell.Print("%s", line.format);
            return;
        case kPathArgument:
            shell.Print(line.format, path);
            return;
        case kValueArgument:
            shell.Print(line.format, value);
            return;
        case kLimitArgument:
            shell.Print(line.format, INT32_MAX);
            return;
        }
    }
}
