#include "platform/draws_without_lock.h"

#include <cstdlib>

// glibc 2.35 and later: __libc_single_threaded and _dl_find_object.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 35)
#include <dlfcn.h>
#include <sys/single_threaded.h>
#define PELINDRA_DRAWS_WITHOUT_LOCK 1
#else
#define PELINDRA_DRAWS_WITHOUT_LOCK 0
#endif

namespace {

#if PELINDRA_DRAWS_WITHOUT_LOCK
// glibc's rand() is random(), which takes a lock around the shared state for every value: two
// atomic operations, most of what a value costs. While the process has one thread, nothing else can
// draw in between, so the values are taken from that very state by random_r, which locks nothing.
// setstate hands the state over with the place reached written into it; setstate_r reads that place
// into our record of the state, and writes back the place our draws reached; setstate then puts the
// state back in use from there. Returns false, having drawn nothing, should any step be refused.
bool DrawFromSharedState(int32_t* values, int32_t count) {
    // One-word states (which need no seeding): one stands in for the shared state while it is
    // borrowed, the other gives our record a state to write its place into when it moves on.
    int32_t standIn[2];
    int32_t start[2];
    random_data standInRecord = {};
    random_data shared = {};
    if (initstate_r(1, reinterpret_cast<char*>(standIn), sizeof standIn, &standInRecord) != 0 ||
        initstate_r(1, reinterpret_cast<char*>(start), sizeof start, &shared) != 0) {
        return false;
    }
    char* const state = setstate(reinterpret_cast<char*>(standIn));
    if (state == nullptr) {
        return false;
    }
    if (setstate_r(state, &shared) != 0) {
        setstate(state);
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        random_r(&shared, &values[i]);
    }
    setstate_r(reinterpret_cast<char*>(start), &shared);
    setstate(state);
    return true;
}

// The values are glibc's only while rand() is: a host may put its own rand() in front of it (a
// definition in the program, or a preloaded library), and then every value must come from that one.
// (_dl_find_object looks up the loaded object of an address without locking; dladdr would also
// search its symbols, which takes microseconds.)
bool RandIsTheRuntimes() {
    dl_find_object randFrom;
    dl_find_object runtimeFrom;
    return _dl_find_object(reinterpret_cast<void*>(&::rand), &randFrom) == 0 &&
           _dl_find_object(reinterpret_cast<void*>(&::random_r), &runtimeFrom) == 0 &&
           randFrom.dlfo_link_map == runtimeFrom.dlfo_link_map;
}
#endif

} // namespace

bool DrawWithoutLock(int32_t* values, int32_t count) {
#if PELINDRA_DRAWS_WITHOUT_LOCK
    return __libc_single_threaded != 0 && RandIsTheRuntimes() && DrawFromSharedState(values, count);
#else
    (void)values;
    (void)count;
    return false;
#endif
}
