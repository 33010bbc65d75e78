// Load and unload of MorvanePelindra.dll: registration with the application framework and nothing
// else. The job never touches any of this.
//
// Order at process attach:
//   1. PelindraDllEntry (the image's entry point) runs the early hook before any
//      of the C runtime's start-up code: it moves two pairs of words in the
//      framework's state record for this module. (Only the runtime's TLS
//      callback, which the loader calls ahead of every entry point, runs
//      earlier; it prepares a lock for thread-local destructors and touches
//      nothing of the framework's.)
//   2. The C runtime's own entry runs its start-up work (there are no static
//      constructors in this library), then calls DllMain.
//   3. DllMain registers the module record; a refusal fails the load. It then
//      asks for a 64-byte framework object and, if it gets one, has the
//      framework initialise it.
// Process detach runs the same path backwards: DllMain withdraws the record
// and the C runtime runs its exit work; the early hook has nothing to do then.
//
// Thread attach and detach reach DllMain too, which lets them pass.
#include "windows_dll/framework_win32.h"

#include <windows.h>

// The C runtime's DLL entry point, which the linker would otherwise have made the image's entry;
// ours calls it after the early hook.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE instance, DWORD reason, LPVOID reserved);

namespace {

constexpr size_t kFrameworkObjectBytes = 64;

// Byte offsets into the framework's state record, of 32-bit words on every target. At load the
// framework expects the values parked at 32 and 44 moved to 28 and 40, and 32 and 44 cleared.
struct ParkedWord {
    size_t parkedOffset;
    size_t takenOffset;
};
constexpr ParkedWord kParkedWords[] = {{32, 28}, {44, 40}};

// Zero-filled at load because it lives in static storage; the framework fills it at registration
// and reads it back at withdrawal.
FrameworkModuleRecord gModuleRecord;

// Set once registration succeeded, so that a refused load (after which the C runtime and the loader
// may still deliver a process detach) never withdraws a record the framework does not hold.
bool gRegistered = false;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        if (FrameworkRegisterModule(&gModuleRecord, instance) == 0) {
            return FALSE;
        }
        gRegistered = true;
        // Without memory the library still works; the framework simply has no object for it.
        void* memory = FrameworkAllocate(kFrameworkObjectBytes);
        if (memory != nullptr) {
            FrameworkInitializeObject(memory, &gModuleRecord, 0);
        }
    } else if (reason == DLL_PROCESS_DETACH && gRegistered) {
        FrameworkWithdrawModule(&gModuleRecord, 0);
        gRegistered = false;
    }
    return TRUE;
}

extern "C" BOOL WINAPI PelindraDllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // The early hook, before anything else in the image; it cannot fail.
    if (reason == DLL_PROCESS_ATTACH) {
        uint32_t* state = FrameworkModuleState();
        for (const ParkedWord& word : kParkedWords) {
            state[word.takenOffset / sizeof(uint32_t)] =
                state[word.parkedOffset / sizeof(uint32_t)];
            state[word.parkedOffset / sizeof(uint32_t)] = 0;
        }
    }
    return DllMainCRTStartup(instance, reason, reserved);
}
