# SPDX-License-Identifier: MIT
# Cross-building for 64-bit ARM Linux (Raspberry Pi OS 64-bit, Debian arm64)
# with Debian's cross compiler (g++-aarch64-linux-gnu). Libraries and
# pkg-config files come from Debian's arm64 packages installed through
# multiarch (dpkg --add-architecture arm64; libsystemd-dev:arm64, ...).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(RIGPLOT_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${RIGPLOT_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${RIGPLOT_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${RIGPLOT_CROSS_TRIPLET})

# The cross toolchain's own root first, then the multiarch folders of /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${RIGPLOT_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${RIGPLOT_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Tests and test discovery run the arm64 programs through qemu-user, with the
# multiarch loader in /lib. Not -L /usr/aarch64-linux-gnu: the cross
# toolchain's loader there then loads libc6:arm64 from /lib/aarch64-linux-gnu,
# a different build of glibc, and the first new thread hangs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
