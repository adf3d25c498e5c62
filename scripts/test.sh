#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds RIGPLOT and runs every test. Exits non-zero on any failure. Every
# build directory is inside this checkout and every run makes its own
# temporary directories, X displays and Wine prefix, so two checkouts may run
# it side by side.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev python3 \
  libsystemd-dev scdoc \
  libwxgtk3.2-dev libgtk-3-dev xvfb xauth openbox xdotool wmctrl x11-utils fonts-ipafont-gothic imagemagick \
  clang-14 libclang-rt-14-dev \
  g++-mingw-w64-x86-64 googletest wine wine64 zip locales \
  libboost-dev brotli libjs-leaflet dpkg-dev chromium chromium-driver python3-selenium \
  libmosquitto-dev nlohmann-json3-dev mosquitto mosquitto-clients libsqlite3-dev sqlite3 libxml2-utils

# Every part on, whatever an earlier configure of build/ chose: the
# benchmarks are built (not run) so that they keep compiling.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIGPLOT_TESTS=ON -DRIGPLOT_DESKTOP=ON \
  -DRIGPLOT_BENCH=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
# Sanitizer builds and bounded fuzzing.
scripts/stress.sh
# The Windows programs, cross-built and tested under Wine, with the installer.
scripts/test-windows.sh
# The Debian packages, amd64 and arm64 (core tests under qemu-user).
scripts/test-packages.sh
