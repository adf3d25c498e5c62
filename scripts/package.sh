#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes every package and the Windows installer, into out/ (RIGPLOT_OUT):
#   rigplotd_VERSION-1_amd64.deb  rigplot_VERSION-1_amd64.deb   Debian 12, Ubuntu (PC)
#   rigplotd_VERSION-1_arm64.deb                                 Raspberry Pi OS 64-bit, Debian arm64
#   rigplot_VERSION-1_arm64.deb   with --arm64-desktop (pulls in ~200 arm64 packages)
#   rigplot-VERSION-windows-x64.zip  rigplot-VERSION-setup-x64.exe   Windows 7 and later, 64-bit
# VERSION is the one in CMakeLists.txt's project(). Run as root on Debian 12:
# it installs what it needs, the arm64 libraries through multiarch.
#
# Usage: scripts/package.sh [amd64] [arm64] [windows] [--arm64-desktop]
#   (no target: all three). Build folders: build-pkg/<target> (RIGPLOT_PKG_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

targets=()
arm64_desktop=OFF
for arg in "$@"; do
  case $arg in
    amd64 | arm64 | windows) targets+=("$arg") ;;
    --arm64-desktop) arm64_desktop=ON ;;
    *) echo "usage: $0 [amd64] [arm64] [windows] [--arm64-desktop]" >&2; exit 2 ;;
  esac
done
((${#targets[@]})) || targets=(amd64 arm64 windows)
builds=${RIGPLOT_PKG_BUILD:-build-pkg}
out=${RIGPLOT_OUT:-out}
mkdir -p "$out"
# Each build's own packages, so a stale one in the folder is never handed out.
collect() {
  local from=$1
  shift
  for file in "$@"; do
    cp "$from/$file" "$out/"
    echo "  $out/$file"
  done
}

scripts/install-deps.sh cmake ninja-build pkg-config dpkg-dev file scdoc gzip
deb_files() { (cd "$1" && ls *.deb); }

# Hardening as Debian builds its own packages (lintian checks for it).
# CMake reads no CPPFLAGS, so the preprocessor flags join the compiler's.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
deb_build() {
  local dir=$1 arch=$2
  shift 2
  rm -rf "$dir/packages"
  CXXFLAGS="$(dpkg-architecture -a"$arch" -f -c dpkg-buildflags --get CXXFLAGS 2>/dev/null) \
$(dpkg-architecture -a"$arch" -f -c dpkg-buildflags --get CPPFLAGS 2>/dev/null)" \
  LDFLAGS="$(dpkg-architecture -a"$arch" -f -c dpkg-buildflags --get LDFLAGS 2>/dev/null)" \
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_INSTALL_SYSCONFDIR=/etc -DCMAKE_INSTALL_LOCALSTATEDIR=/var -DRIGPLOT_BENCH=OFF "$@"
  cmake --build "$dir" -j"$(nproc)"
  (cd "$dir" && cpack -G DEB)
}

for target in "${targets[@]}"; do
  case $target in
    amd64)
      echo "== Debian packages, amd64"
      scripts/install-deps.sh g++ libsystemd-dev libsqlite3-dev libboost-dev brotli libwxgtk3.2-dev \
        libgtk-3-dev libmosquitto-dev nlohmann-json3-dev
      deb_build "$builds/amd64" amd64 -DRIGPLOT_TESTS=OFF
      collect "$builds/amd64/packages" $(deb_files "$builds/amd64/packages")
      ;;
    arm64)
      echo "== Debian packages, arm64 (cross-built)"
      if ! dpkg --print-foreign-architectures | grep -qx arm64; then
        dpkg --add-architecture arm64
        apt-get update -qq
      fi
      # The core tests are built too: the test command runs them under qemu.
      arm64_deps=(g++-aarch64-linux-gnu qemu-user libsystemd-dev:arm64 libsqlite3-dev:arm64
        libboost-dev brotli libgtest-dev:arm64 libmosquitto-dev:arm64 nlohmann-json3-dev)
      if [[ $arm64_desktop == ON ]]; then
        arm64_deps+=(libwxgtk3.2-dev:arm64 libgtk-3-dev:arm64)
      fi
      scripts/install-deps.sh "${arm64_deps[@]}"
      wx_config=()
      if [[ $arm64_desktop == ON ]]; then
        wx_config=(-DwxWidgets_CONFIG_EXECUTABLE="$(ls /usr/lib/aarch64-linux-gnu/wx/config/gtk3-unicode-*)")
      fi
      deb_build "$builds/arm64" arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
        -DRIGPLOT_TESTS=ON -DRIGPLOT_DESKTOP=$arm64_desktop "${wx_config[@]}"
      collect "$builds/arm64/packages" $(deb_files "$builds/arm64/packages")
      ;;
    windows)
      echo "== Windows zip and installer (cross-built)"
      scripts/install-deps.sh g++-mingw-w64-x86-64 python3 nsis libboost-dev brotli libjs-leaflet
      scripts/sqlite-source.sh "$builds/windows/sqlite"
      cmake -S . -B "$builds/windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release -DRIGPLOT_TESTS=OFF
      cmake --build "$builds/windows" -j"$(nproc)"
      collect "$builds/windows" \
        $(cd "$builds/windows" && ls rigplot-*-windows-x64.zip rigplot-*-setup-x64.exe)
      ;;
  esac
done
echo "Packages in $out/ after $((SECONDS - started)) s"
