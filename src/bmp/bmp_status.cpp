#include "bmp/bmp_status.h"

#include "shell/runtime_services.h"

#include <climits>

void PrintBmpError(BmpStatus status, const char* path, int32_t value) {
    switch (status) {
    case kBmpOk:
        return;
    case kBmpCannotOpenInput:
        ShellPrint("Error: Cannot open input file '%s'\n", path);
        return;
    case kBmpCannotReadFileHeader:
        ShellPrint("Error: Cannot read file header\n");
        return;
    case kBmpNotBmp:
        ShellPrint("Error: Not a valid BMP file\n");
        return;
    case kBmpCannotReadInfoHeader:
        ShellPrint("Error: Cannot read info header\n");
        return;
    case kBmpUnsupportedBitCount:
        ShellPrint("Error: Only 24-bit BMP files are supported (found %d-bit)\n", value);
        return;
    case kBmpCompressed:
        ShellPrint("Error: Only uncompressed BMP files are supported\n");
        return;
    case kBmpBadWidth:
        ShellPrint("Error: Image width must be positive (found %d)\n", value);
        return;
    case kBmpNoRows:
        ShellPrint("Error: Image has no rows\n");
        return;
    case kBmpHeightOutOfRange:
        ShellPrint("Error: Image height is out of range\n");
        return;
    case kBmpTooLarge:
        ShellPrint("Error: Image is too large (pixel data over %d bytes)\n", INT32_MAX);
        return;
    case kBmpCannotAllocateGap:
        ShellPrint("Error: Cannot allocate memory for header\n");
        return;
    case kBmpCannotReadGap:
        ShellPrint("Error: Cannot read header data\n");
        return;
    case kBmpCannotAllocatePixels:
        ShellPrint("Error: Cannot allocate memory for image data\n");
        return;
    case kBmpCannotReadPixels:
        ShellPrint("Error: Cannot read pixel data\n");
        return;
    case kBmpCannotCreateOutput:
        ShellPrint("Error: Cannot create output file '%s'\n", path);
        return;
    case kBmpCannotWriteOutput:
        ShellPrint("Error: Cannot write output file '%s'\n", path);
        return;
    }
}
