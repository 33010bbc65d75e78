// The one exported operation: load, place stars, save, report.
#include "morvane_pelindra.h"

#include "bmp/bmp_image.h"
#include "job/job_report.h"
#include "job/make_image.h"
#include "job/narrow_path.h"
#include "platform/platform_calls.h"

namespace {

int32_t RunJob(const char* inputPath, const char* outputPath, int32_t starCount) {
    BmpImage image;
    BmpHeaderNote note;
    BmpStatus status = LoadBmpImage(inputPath, &image, &note);
    ReportHeaders(status, note, inputPath);
    if (status != kBmpOk) {
        return PELINDRA_RESULT_FAILED;
    }
    ReportAdding(starCount);
    BmpSave save;
    status = BeginSave(outputPath, &image, &save);
    if (status == kBmpOk) {
        const JobPlan plan = PlanJob(&image, starCount);
        const BmpStatus made = MakeImage(&save.output, &image, starCount, &plan);
        status = FinishSave(outputPath, &image, &save, made);
    }
    if (status == kBmpOk) {
        ReportSaved(outputPath);
    } else {
        ReportStatus(status, outputPath, 0);
    }
    CloseBmpInput(&image);
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

    // From the first line printed to the last, a write to a gone reader or past the file-size
    // limit, the report's too, fails instead of killing the caller.
    const uint32_t held = shell.HoldWriteSignals();
    ReportBanner();

    int32_t result = PELINDRA_RESULT_FAILED;
    if (!ReportUnusablePath(inputStatus, "input") && !ReportUnusablePath(outputStatus, "output")) {
        result = RunJob(narrowInput, narrowOutput, starCount);
    }
    shell.ReleaseWriteSignals(held);
    return result;
}
