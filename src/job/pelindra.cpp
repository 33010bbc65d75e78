// The one exported operation: load, place stars, save, report.
#include "morvane_pelindra.h"

#include "bmp/bmp_image.h"
#include "job/make_image.h"
#include "job/narrow_path.h"
#include "platform/platform_calls.h"

namespace {

// A path that cannot be used is refused before the input is touched, so nothing
// is read and no output file is created.
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

int32_t RunJob(const char* inputPath, const char* outputPath, int32_t starCount) {
    BmpImage image;
    if (LoadBmpHeaders(inputPath, &image) != kBmpOk) {
        return PELINDRA_RESULT_FAILED;
    }
    const BmpStatus loaded = LoadBmpRows(&image);
    if (loaded != kBmpOk) {
        PrintBmpError(loaded, inputPath, 0);
        return PELINDRA_RESULT_FAILED;
    }
    shell.Print("Adding %d stars to the image...\n", starCount);
    BmpSave save;
    BmpStatus status = BeginSave(outputPath, &image, &save);
    if (status == kBmpOk) {
        const JobPlan plan = PlanJob(&image, starCount);
        const BmpStatus made = MakeImage(&save.output, &image, starCount, &plan);
        status = FinishSave(outputPath, &image, &save, made);
    }
    if (status == kBmpOk) {
        shell.Print("Stars added successfully!\n");
        shell.Print("Output saved to: %s\n", outputPath);
    }
    ReleaseBmpImage(&image);
    return status == kBmpOk ? PELINDRA_RESULT_WRITTEN : PELINDRA_RESULT_FAILED;
}

} // namespace

extern "C" PELINDRA_EXPORT int32_t PELINDRA_CALL Pelindra(const char16_t* inputPath,
                                                          const char16_t* outputPath,
                                                          int32_t starCount) {
    char narrowInput[kNarrowPathCapacity];
    char narrowOutput[kNarrowPathCapacity];
    const NarrowPathStatus inputStatus = ConvertNarrowPath(inputPath, narrowInput);
    const NarrowPathStatus outputStatus = ConvertNarrowPath(outputPath, narrowOutput);

    // From the first line printed to the last, a write to a gone reader or past
    // the file-size limit, the report's too, fails instead of killing the caller.
    const uint32_t held = shell.HoldWriteSignals();
    shell.Print("=== Morvane Pelindra ===\n");
    shell.Print("Adds stars to a BMP image\n\n");

    int32_t result = PELINDRA_RESULT_FAILED;
    if (!ReportUnusablePath(inputStatus, "input") && !ReportUnusablePath(outputStatus, "output")) {
        result = RunJob(narrowInput, narrowOutput, starCount);
    }
    shell.ReleaseWriteSignals(held);
    return result;
}
