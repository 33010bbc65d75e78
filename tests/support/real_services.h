// The real runtime services under the names rename_real_services.h gives them;
// the substitute calls through to these. A signature that drifts from
// runtime_services.h fails to link.
#pragma once

#include "shell/runtime_services.h"

ShellFile* RealShellFileOpen(const char* path, const char* mode);
size_t RealShellFileRead(void* destination, size_t itemSize, size_t itemCount, ShellFile* file);
size_t RealShellFileWrite(const void* source, size_t itemSize, size_t itemCount, ShellFile* file);
int32_t RealShellFileClose(ShellFile* file);
int64_t RealShellFileRemaining(ShellFile* file, ShellFileStamp* stamp);
size_t RealShellFileReadAt(ShellFile* file, void* destination, size_t length, int64_t offset);
int64_t RealShellFileCopyRange(ShellFile* from, int64_t offset, size_t length, ShellFile* to);
size_t RealShellFileWriteAt(ShellFile* file, const void* source, size_t length, int64_t offset);
void RealShellFileStartWriteback(ShellFile* file, int64_t offset, int64_t length);
void* RealShellReserveStore(size_t bytes, bool filledWhole);
void RealShellReleaseStore(void* block, size_t bytes);
void RealShellGiveBackStorePages(void* start, size_t bytes);
void RealShellQueryPath(const char* path, ShellPathInfo* info);
void* RealShellAllocate(size_t bytes);
void RealShellRelease(void* block);
void RealShellRandomDraws(int32_t* values, int32_t count);
int32_t RealShellWideToNarrow(const char16_t* wide, char* narrow, int32_t capacity);
int32_t RealShellFileCreateBeside(const char* target, const ShellPathInfo* info,
                                  ShellNewFile* made);
int32_t RealShellFilePutInPlace(ShellNewFile* made, const char* target, const ShellPathInfo* info);
void RealShellFileDiscard(ShellNewFile* made);
uint32_t RealShellHoldWriteSignals();
void RealShellReleaseWriteSignals(uint32_t held);
