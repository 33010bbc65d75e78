// Writing a loaded image to a file, shared by the save and the policy that
// decides where the written file goes (bmp_replace.cpp).
#pragma once

#include "bmp/bmp_image.h"

// File offset of the first pixel row as written: after the headers and the gap
// block. 64-bit, since the gap may be as long as a signed 32-bit length goes.
int64_t PixelRowsOffset(const BmpImage* image);

// A file the image is written to, and what becomes of the rows written from
// memory: both decided where the file is made, not by the writer.
struct BmpOutput {
    ShellFile* file;
    // A new file that will replace another: the rows are handed on to the disk
    // piece by piece as they are written, and kept, since a refused replace
    // writes the old file in place after all.
    bool writeBehind;
    // The rows may be given back: this is the image's last write, so the memory
    // of rows held in a store is returned piece by piece as they are written,
    // and the pages the file system fills with them can be the same pages
    // rather than more. The rows must not be read again, whatever the outcome.
    bool mayGiveBackRows;
};

// Writes the headers, the gap block and the pixel rows to the output's file,
// which stays open. kBmpOk when every write succeeded; kBmpCannotReadPixels
// when rows still to be copied could not be read from the input (it was cut
// since it was measured); otherwise kBmpCannotWriteOutput.
BmpStatus WritePieces(const BmpOutput& output, const BmpImage* image);

// Opens `path` for writing, truncating it, and writes the image into it: the
// way to write a device, a pipe, or a file that must keep its identity. Every
// row still on the input is read first (the target may be the input), which
// closes the input. A failed write can leave the target incomplete. Prints
// nothing.
BmpStatus SaveDirectly(const char* path, BmpImage* image);
