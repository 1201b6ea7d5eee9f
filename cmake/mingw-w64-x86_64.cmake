# Cross build of the native Windows program with Debian's mingw-w64 (posix threads), its tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAMBERLY_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMBERLY_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMBERLY_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMBERLY_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAMBERLY_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No runtime DLLs beside the program: the C and C++ runtimes and winpthreads are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine in a prefix of the build folder's own, never in the user's home.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all wine)
# Wine starts only when the tests run, not while building.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
