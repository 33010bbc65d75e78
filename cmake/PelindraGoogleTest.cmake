# Makes GoogleTest available as GTest::gtest and GTest::gtest_main.
#
# Debian's prebuilt libgtest-dev serves the machine's own architecture only, so
# cross builds (ARM, Windows) compile GoogleTest from its source package instead
# (googletest, installed at /usr/src/googletest), with the cross compiler.
include_guard(GLOBAL)

option(PELINDRA_GTEST_FROM_SOURCE "Build GoogleTest from source instead of using an installed one"
  ${CMAKE_CROSSCOMPILING})
set(PELINDRA_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest source tree used when PELINDRA_GTEST_FROM_SOURCE is on")

if(PELINDRA_GTEST_FROM_SOURCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${PELINDRA_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Recent GoogleTest releases name their targets this way themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

include(GoogleTest)

# A cross build's test programs run under an emulator (Wine, qemu-arm) that a
# machine may lack or have only in part, such as Wine without its 32-bit half:
# they list their cases when the tests run, so the tree still builds.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
