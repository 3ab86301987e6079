# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX
# thread model, whose libstdc++ has std::thread and std::mutex), and running
# the results under wine64 (CTest's emulator). Used by scripts/windows-build:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ONDARIS_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ONDARIS_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ONDARIS_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ONDARIS_MINGW}-windres)

# Only the cross tree is searched for libraries and headers; programs run on
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ONDARIS_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ run-time libraries and winpthread go into each executable,
# so that a program is one file to copy onto a store's machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and programs run under wine64 (Debian puts the loader outside PATH).
find_program(ONDARIS_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ONDARIS_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ONDARIS_WINE64})
endif()
