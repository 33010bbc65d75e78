#include "bmp/bmp_status.h"

#include "platform/platform_calls.h"

#include <climits>

void PrintBmpError(BmpStatus status, const char* path, int32_t value) {
    switch (status) {
    case kBmpOk:
        return;
    case kBmpCannotOpenInput:
        shell.Print("Error: Cannot open input file '%s'\n", path);
        return;
    case kBmpCannotReadFileHeader:
        shell.Print("Error: Cannot read file header\n");
        return;
    case kBmpNotBmp:
        shell.Print("Error: Not a valid BMP file\n");
        return;
    case kBmpCannotReadInfoHeader:
        shell.Print("Error: Cannot read info header\n");
        return;
    case kBmpUnsupportedBitCount:
        shell.Print("Error: Only 24-bit BMP files are supported (found %d-bit)\n", value);
        return;
    case kBmpCompressed:
        shell.Print("Error: Only uncompressed BMP files are supported\n");
        return;
    case kBmpBadWidth:
        shell.Print("Error: Image width must be positive (found %d)\n", value);
        return;
    case kBmpNoRows:
        shell.Print("Error: Image has no rows\n");
        return;
    case kBmpHeightOutOfRange:
        shell.Print("Error: Image height is out of range\n");
        return;
    case kBmpTooLarge:
        shell.Print("Error: Image is too large (pixel data over %d bytes)\n", INT32_MAX);
        return;
    case kBmpCannotAllocateGap:
        shell.Print("Error: Cannot allocate memory for header\n");
        return;
    case kBmpCannotReadGap:
        shell.Print("Error: Cannot read header data\n");
        return;
    case kBmpCannotAllocatePixels:
        shell.Print("Error: Cannot allocate memory for image data\n");
        return;
    case kBmpCannotReadPixels:
        shell.Print("Error: Cannot read pixel data\n");
        return;
    case kBmpCannotCreateOutput:
        shell.Print("Error: Cannot create output file '%s'\n", path);
        return;
    case kBmpCannotWriteOutput:
        shell.Print("Error: Cannot write output file '%s'\n", path);
        return;
    }
}
