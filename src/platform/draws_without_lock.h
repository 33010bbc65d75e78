// Drawing the C runtime generator's values without its lock, where nothing can come between: the
// platform layer's most fragile code, apart so that random_draws_test.cpp holds it alone.
#pragma once

#include <cstdint>

// Fills `values` with the next `count` values of rand(), exactly as as many calls would give them,
// leaving the generator where they would leave it, but without rand()'s lock: only while the
// process has one thread and rand() is glibc's own (glibc 2.35 and later). Returns false, having
// drawn nothing, where that cannot be done; the caller then calls rand().
bool DrawWithoutLock(int32_t* values, int32_t count);
