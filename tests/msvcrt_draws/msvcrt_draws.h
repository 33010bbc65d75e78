// Random draws as the Windows C runtime (msvcrt.dll) makes them, for running
// the library on Linux with the very sequence a Windows host gets after
// srand(seed): state = state * 214013 + 2531011, each draw the bits 16 to 30
// of the new state.
//
// Seeding puts this generator in the runtime services' place of
// shell.RandomDraws; everything else stays the real services.
#pragma once

#include <cstdint>

void SeedMsvcrtDraws(uint32_t seed);
// Number of draws taken since the last seeding.
int64_t MsvcrtDrawsTaken();
