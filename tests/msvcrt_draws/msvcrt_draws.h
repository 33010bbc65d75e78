// Random draws as the Windows C runtime (msvcrt.dll) makes them, for running
// the library on Linux with the very sequence a Windows host gets after
// srand(seed): state = state * 214013 + 2531011, each draw the bits 16 to 30
// of the new state.
//
// Linking msvcrt_draws.cpp into a program replaces the runtime services'
// ShellRandomDraws with this generator; everything else stays
// the real services.
#pragma once

#include <cstdint>

void SeedMsvcrtDraws(uint32_t seed);
// Number of draws taken since the last seeding.
int64_t MsvcrtDrawsTaken();
