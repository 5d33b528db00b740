# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which has
# std::thread). Tests run under wine64 as the emulator unless one is given.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VB_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Self-contained executables: nothing of the compiler's runtime to copy into the wine prefix.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VB_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(VB_WINE64 NAMES wine64 wine)
  if(VB_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VB_WINE64})
  endif()
endif()
