#include "msvcrt_draws.h"

#include "platform/platform_calls.h"

namespace {

// A fresh msvcrt thread starts from state 1, as if srand(1) had been called.
uint32_t gState = 1;
int64_t gDrawsTaken = 0;

int32_t NextDraw() {
    gState = gState * 214013u + 2531011u;
    ++gDrawsTaken;
    return static_cast<int32_t>((gState >> 16) & 0x7FFFu);
}

void MsvcrtRandomDraws(int32_t* values, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        values[i] = NextDraw();
    }
}

} // namespace

void SeedMsvcrtDraws(uint32_t seed) {
    gState = seed;
    gDrawsTaken = 0;
    shell.RandomDraws = MsvcrtRandomDraws;
}

int64_t MsvcrtDrawsTaken() {
    return gDrawsTaken;
}
