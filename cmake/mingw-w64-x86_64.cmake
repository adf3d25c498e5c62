# SPDX-License-Identifier: MIT
# Cross-building the Windows programs on Linux with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64). The posix thread model gives std::thread and
# std::mutex; the win32 model has neither in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RIGPLOT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RIGPLOT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RIGPLOT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${RIGPLOT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RIGPLOT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One file per program: no runtime DLLs to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run the .exe files through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
