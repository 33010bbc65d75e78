# Cross-builds for 32-bit ARM Linux (hard-float); the tests run under
# qemu-arm with the Debian armhf runtime as its library root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(pelindra_triplet arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${pelindra_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${pelindra_triplet}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${pelindra_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${pelindra_triplet})
