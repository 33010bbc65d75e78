// Every line the job prints, said in one place: the banner, the size, the progress and success
// lines, and the one error line of each failure, from a table of the statuses bmp/ returns.
#pragma once

#include "bmp/bmp_image.h"
#include "job/narrow_path.h"

#include <cstdint>

void ReportBanner();

// The "Error: " line of a path that cannot be used; `which` is "input" or "output". False, printing
// nothing, for a usable one.
bool ReportUnusablePath(NarrowPathStatus status, const char* which);

// How loading the headers ended: the size line where the header got that far, then any error line.
void ReportHeaders(BmpStatus status, const BmpHeaderNote& note, const char* path);

void ReportAdding(int32_t starCount);
void ReportSaved(const char* outputPath);

// The "Error: " line of a failure (none for kBmpOk). `path` fills the lines that name a file,
// `value` the bit count, width or limit of those that show one.
void ReportStatus(BmpStatus status, const char* path, int32_t value);
