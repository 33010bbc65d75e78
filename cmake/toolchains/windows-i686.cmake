# Cross-builds MorvanePelindra.dll for 32-bit Windows with mingw-w64; the tests
# run under Wine (which needs its 32-bit half for this).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)

set(pelindra_triplet i686-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model of
# this GCC lacks. The library itself starts no threads.
set(CMAKE_C_COMPILER ${pelindra_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pelindra_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${pelindra_triplet}-windres)
set(CMAKE_DLLTOOL ${pelindra_triplet}-dlltool)
set(PELINDRA_WIDL ${pelindra_triplet}-widl)

# The x87 unit keeps doubles in 80-bit registers and rounds them when it
# pleases, so the star rays could land on other pixels than on every other
# target. SSE2 rounds each operation to double, as x86-64 and ARM do.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(CMAKE_FIND_ROOT_PATH /usr/${pelindra_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
