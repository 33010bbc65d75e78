// The five operations of the application framework library (mfcce300.dll) that the Windows build of
// the library calls at load and unload, and nothing else. They are imported by ordinal only:
// framework_imports.def lists them and the import library made from it binds each name below to its
// ordinal. The names are ours; the framework exports no names for these.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Filled and read by the framework only; the library zero-fills it (by keeping it in static
// storage) and hands its address over.
struct FrameworkModuleRecord {
    uintptr_t slots[8];
};

extern "C" {

// Ordinal 644: the framework's state record for the calling module, an array of 32-bit words.
uint32_t* FrameworkModuleState();
// Ordinal 655: registers the module record; zero means the framework refused.
int32_t FrameworkRegisterModule(FrameworkModuleRecord* record, HINSTANCE instance);
// Ordinal 315: framework memory, or null.
void* FrameworkAllocate(size_t bytes);
// Ordinal 88: makes a framework object in FrameworkAllocate's memory; the framework then owns it.
void FrameworkInitializeObject(void* memory, FrameworkModuleRecord* record, int32_t flags);
// Ordinal 699: withdraws the module record.
void FrameworkWithdrawModule(FrameworkModuleRecord* record, int32_t flags);
}
