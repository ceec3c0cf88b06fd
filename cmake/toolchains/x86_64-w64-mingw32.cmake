# Windows x64 from an x86-64 Debian machine: MinGW-w64 (POSIX threads) builds, wine runs what was
# built (tests included, through CMAKE_CROSSCOMPILING_EMULATOR) in a wine prefix of the build
# tree's own, quietly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and the threads library linked in, so that wine needs no MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix /usr/lib/wine/wine64)
