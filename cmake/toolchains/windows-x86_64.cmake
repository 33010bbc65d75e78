# Cross-builds MorvanePelindra.dll for 64-bit Windows with mingw-w64; the tests
# run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(pelindra_triplet x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model of
# this GCC lacks. The library itself starts no threads.
set(CMAKE_C_COMPILER ${pelindra_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pelindra_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${pelindra_triplet}-windres)
set(CMAKE_DLLTOOL ${pelindra_triplet}-dlltool)
set(PELINDRA_WIDL ${pelindra_triplet}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${pelindra_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
