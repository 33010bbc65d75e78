/*
 * Morvane Pelindra: draws stars into an uncompressed 24-bit BMP image.
 *
 *   int32_t result = Pelindra(u"in.bmp", u"out.bmp", 25);
 *
 * Paths are NUL-terminated UTF-16 strings. The call loads the input, draws
 * starCount stars (none when starCount <= 0) at places, sizes and colours taken
 * from the C runtime's rand() (the library never seeds it; seed it with srand()
 * first for a reproducible picture), writes the output and reports what it does
 * in short lines on standard output. It returns PELINDRA_RESULT_WRITTEN (999)
 * when the output was written and PELINDRA_RESULT_FAILED (1) on any failure,
 * which it has then explained in one line starting "Error: ".
 *
 * Usable from C (C11 or later, for char16_t) and C++.
 */
#ifndef MORVANE_PELINDRA_H
#define MORVANE_PELINDRA_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(_WIN32)
#if defined(MORVANE_PELINDRA_BUILDING)
#define PELINDRA_EXPORT __declspec(dllexport)
#else
#define PELINDRA_EXPORT __declspec(dllimport)
#endif
#else
#if defined(MORVANE_PELINDRA_BUILDING)
#define PELINDRA_EXPORT __attribute__((visibility("default")))
#else
#define PELINDRA_EXPORT
#endif
#endif

/* Standard call on 32-bit Windows, the platform default everywhere else. */
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define PELINDRA_CALL __stdcall
#else
#define PELINDRA_CALL
#endif

#define PELINDRA_RESULT_WRITTEN 999
#define PELINDRA_RESULT_FAILED 1

#ifdef __cplusplus
extern "C" {
#endif

PELINDRA_EXPORT int32_t PELINDRA_CALL Pelindra(const char16_t* inputPath,
                                               const char16_t* outputPath, int32_t starCount);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_PELINDRA_H */
