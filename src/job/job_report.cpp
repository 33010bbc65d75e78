#include "job/job_report.h"

#include "platform/platform_calls.h"

namespace {

// Each status's line, and whether its one blank is the path (or else the value the failure noted).
struct StatusLine {
    BmpStatus status;
    bool namesPath;
    const char* format;
};

constexpr StatusLine kStatusLines[] = {
    {kBmpCannotOpenInput, true, "Error: Cannot open input file '%s'\n"},
    {kBmpCannotReadFileHeader, false, "Error: Cannot read file header\n"},
    {kBmpNotBmp, false, "Error: Not a valid BMP file\n"},
    {kBmpCannotReadInfoHeader, false, "Error: Cannot read info header\n"},
    {kBmpUnsupportedBitCount, false, "Error: Only 24-bit BMP files are supported (found %d-bit)\n"},
    {kBmpCompressed, false, "Error: Only uncompressed BMP files are supported\n"},
    {kBmpBadWidth, false, "Error: Image width must be positive (found %d)\n"},
    {kBmpNoRows, false, "Error: Image has no rows\n"},
    {kBmpHeightOutOfRange, false, "Error: Image height is out of range\n"},
    {kBmpTooLarge, false, "Error: Image is too large (pixel data over %d bytes)\n"},
    {kBmpCannotAllocateGap, false, "Error: Cannot allocate memory for header\n"},
    {kBmpCannotReadGap, false, "Error: Cannot read header data\n"},
    {kBmpCannotAllocatePixels, false, "Error: Cannot allocate memory for image data\n"},
    {kBmpCannotReadPixels, false, "Error: Cannot read pixel data\n"},
    {kBmpCannotCreateOutput, true, "Error: Cannot create output file '%s'\n"},
    {kBmpCannotWriteOutput, true, "Error: Cannot write output file '%s'\n"},
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
        if (line.status == status && line.namesPath) {
            shell.Print(line.format, path);
        } else if (line.status == status) {
            shell.Print(line.format, value); // a line without a blank ignores it
        }
    }
}
