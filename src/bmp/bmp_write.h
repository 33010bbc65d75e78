// Writing a loaded image to a file, shared by the save and the policy that
// decides where the written file goes (bmp_replace.cpp).
#pragma once

#include "bmp/bmp_image.h"

// A file the image is written to, and what becomes of the rows written from
// memory: both decided where the file is made, not by the writer.
struct BmpOutput {
    ShellFile* file;
    // Where the next byte goes: a file offset, moved on as bytes are written,
    // or kShellAtPosition for a file written where it stands (a pipe, a
    // device, a file just truncated), whose rows then all come from memory.
    int64_t at;
    // A new file that will replace another: its rows are handed on to the
    // disk piece by piece as each piece is complete, and kept, since a
    // refused replace writes the old file in place after all. ext4 and btrfs
    // push a file renamed over another out inside the rename anyway (so that
    // a crash cannot leave the name on an empty file), and started early that
    // work overlaps the writing instead of following it, so the rename has
    // less to wait for. The last piece is left to the rename, with nothing
    // left to overlap, so an image of one piece is written without any such
    // request.
    bool writeBehind;
    // The rows may be given back: this is the image's last write, so rows
    // held in a store are returned piece by piece as they are written, and
    // must not be read again, whatever the outcome. The file system needs as
    // many new pages as the rows fill, and the store's pages, just freed, can
    // be those: the job and the file's cache then hold the image about once,
    // not twice, which a large image on a machine short of memory needs. On a
    // virtual machine that hands idle memory back to its host, pages taken
    // fresh can also be slow to come by, and pages given back spare the file
    // system from taking them.
    bool mayGiveBackRows;
};

// Writes the headers, the gap block and the pixel rows to the output's file,
// which stays open, each piece by explicit writes. kBmpOk when every write succeeded;
// kBmpCannotReadPixels when rows still to be copied could not be read from the input (it was cut
// since it was measured); otherwise kBmpCannotWriteOutput.
BmpStatus WritePieces(BmpOutput* output, const BmpImage* image);

// Opens `path` for writing, truncating it, and writes the image into it: the
// way to write a device, a pipe, or a file that must keep its identity. Every
// row still on the input is read first (the target may be the input), which
// closes the input. A failed write can leave the target incomplete. Prints
// nothing.
BmpStatus SaveDirectly(const char* path, BmpImage* image);
