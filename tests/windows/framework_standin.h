// The stand-in application framework the Windows tests load in place of the
// real mfcce300.dll, which exists only on the home platform. It takes the five
// framework operations the library imports (by the same ordinals), records
// every call with its arguments, and can be told to refuse or to fail:
//
//   PELINDRA_STANDIN_REFUSE_REGISTRATION=1  registration (655) returns zero
//   PELINDRA_STANDIN_NULL_ALLOCATION=1      allocation (315) returns null
//
// Both are read at the time of the call, so a test can set them in its own
// process right before loading the library.
#pragma once

#include <cstdint>

#if defined(PELINDRA_STANDIN_BUILDING)
#define PELINDRA_STANDIN_API __declspec(dllexport)
#else
#define PELINDRA_STANDIN_API __declspec(dllimport)
#endif

inline constexpr int32_t kStandinStateWords = 16;
inline constexpr int32_t kStandinMaxCalls = 64;

struct StandinCall {
    int32_t ordinal;        // 644, 655, 315, 88 or 699
    uintptr_t arguments[3]; // as passed, unused ones zero
    uintptr_t result;       // as returned; zero for operations returning nothing
    int32_t recordWasZero;  // 655 only: 1 when the module record arrived zero-filled
};

extern "C" {

// Forgets the calls recorded so far and refills the state record with its
// initial pattern (word i holds StandinInitialStateWord(i)).
PELINDRA_STANDIN_API void StandinReset();
PELINDRA_STANDIN_API int32_t StandinCallCount();
// Copies call `index` (0 is the oldest); 0 when there is no such call.
PELINDRA_STANDIN_API int32_t StandinCallAt(int32_t index, StandinCall* call);
// Word `index` of the state record handed out by operation 644.
PELINDRA_STANDIN_API uint32_t StandinStateWord(int32_t index);
PELINDRA_STANDIN_API uint32_t StandinInitialStateWord(int32_t index);
}
