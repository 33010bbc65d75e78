// The stand-in framework; see framework_standin.h.
#include "framework_standin.h"

#include "windows_dll/framework_win32.h"

#include <windows.h>

namespace {

uint32_t gState[kStandinStateWords];
StandinCall gCalls[kStandinMaxCalls];
int32_t gCallCount = 0;
bool gStateFilled = false;

void FillState() {
    for (int32_t i = 0; i < kStandinStateWords; ++i) {
        gState[i] = StandinInitialStateWord(i);
    }
    gStateFilled = true;
}

bool Told(const char* variable) {
    char value[8];
    const DWORD length = GetEnvironmentVariableA(variable, value, sizeof value);
    return length > 0 && length < sizeof value && value[0] != '0';
}

void Record(int32_t ordinal, uintptr_t first, uintptr_t second, uintptr_t third, uintptr_t result,
            int32_t recordWasZero = 0) {
    if (gCallCount == kStandinMaxCalls) {
        return;
    }
    gCalls[gCallCount++] = StandinCall{ordinal, {first, second, third}, result, recordWasZero};
}

uintptr_t Address(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

} // namespace

extern "C" {

void StandinReset() {
    gCallCount = 0;
    FillState();
}

int32_t StandinCallCount() {
    return gCallCount;
}

int32_t StandinCallAt(int32_t index, StandinCall* call) {
    if (index < 0 || index >= gCallCount) {
        return 0;
    }
    *call = gCalls[index];
    return 1;
}

uint32_t StandinStateWord(int32_t index) {
    if (!gStateFilled) {
        FillState();
    }
    return index >= 0 && index < kStandinStateWords ? gState[index] : 0;
}

uint32_t StandinInitialStateWord(int32_t index) {
    return 0x5A5A0000u | static_cast<uint32_t>(index);
}

uint32_t* FrameworkModuleState() {
    if (!gStateFilled) {
        FillState();
    }
    Record(644, 0, 0, 0, Address(gState));
    return gState;
}

int32_t FrameworkRegisterModule(FrameworkModuleRecord* record, HINSTANCE instance) {
    int32_t wasZero = 1;
    for (uintptr_t slot : record->slots) {
        wasZero = slot == 0 ? wasZero : 0;
    }
    const int32_t accepted = Told("PELINDRA_STANDIN_REFUSE_REGISTRATION") ? 0 : 1;
    if (accepted != 0) {
        // Like the real framework, keep something of ours in the record.
        record->slots[0] = 1;
        record->slots[1] = Address(instance);
    }
    Record(655, Address(record), Address(instance), 0, static_cast<uintptr_t>(accepted), wasZero);
    return accepted;
}

void* FrameworkAllocate(size_t bytes) {
    void* memory = nullptr;
    if (!Told("PELINDRA_STANDIN_NULL_ALLOCATION")) {
        memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    }
    Record(315, bytes, 0, 0, Address(memory));
    return memory;
}

void FrameworkInitializeObject(void* memory, FrameworkModuleRecord* record, int32_t flags) {
    Record(88, Address(memory), Address(record), static_cast<uintptr_t>(flags), 0);
}

void FrameworkWithdrawModule(FrameworkModuleRecord* record, int32_t flags) {
    Record(699, Address(record), static_cast<uintptr_t>(flags), 0, 0);
}
}
