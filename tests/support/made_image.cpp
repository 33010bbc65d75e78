#include "made_image.h"

#include "bmp_files.h"
#include "job/make_image.h"

#include <cstring>

BmpStatus MakeStarRows(uint8_t* rows, int32_t width, int32_t height, int32_t stars,
                       StarDrawing drawing) {
    ScratchDirectory scratch;
    BmpSpec spec;
    spec.width = width;
    spec.height = height;
    Bytes file = MakeBmp(spec);
    const size_t rowBytes = static_cast<size_t>(StrideOf(width)) * static_cast<size_t>(height);
    std::memcpy(file.data() + 54, rows, rowBytes);
    WriteFileBytes(scratch / "in.bmp", file);

    BmpImage image;
    const std::string input = (scratch / "in.bmp").string();
    BmpHeaderNote note;
    BmpStatus status = LoadBmpImage(input.c_str(), &image, &note);
    if (status != kBmpOk) {
        return status;
    }
    const std::string output = (scratch / "out.bmp").string();
    ShellFile* made = nullptr;
    if (shell.FileOpen(output.c_str(), kShellOpenNew, &made) != kShellFileDone) {
        CloseBmpInput(&image);
        return kBmpCannotCreateOutput;
    }
    const BmpOutput target = {made, false, false};
    const JobPlan plan = PlanDrawing(&image, stars, drawing);
    status = MakeImage(&target, &image, stars, &plan);
    shell.FileClose(made);
    CloseBmpInput(&image);
    if (status == kBmpOk) {
        const Bytes written = ReadFileBytes(scratch / "out.bmp");
        std::memcpy(rows, written.data() + 54, rowBytes);
    }
    return status;
}
