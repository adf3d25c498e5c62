#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Windows programs with MinGW-w64 and runs the Windows tests
# under Wine: the core unit tests, rigplotd.exe with COM1 on a pseudo-terminal
# (its live page's status and events, history and MBTiles tiles included),
# and rigplot.exe in Xvfb with a window manager in a Japanese locale. Checks
# the release zip, and installs, starts and uninstalls the installer. Exits
# non-zero on any failure.
#
# Environment: RIGPLOT_WIN_BUILD (build directory, default build-win).
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

scripts/install-deps.sh cmake ninja-build gcc libc6-dev python3 g++-mingw-w64-x86-64 googletest \
  wine wine64 zip locales xvfb xauth openbox xdotool wmctrl x11-utils imagemagick \
  fonts-ipafont-gothic libboost-dev brotli libjs-leaflet dpkg-dev nsis
if ! locale -a | grep -qx 'ja_JP.utf8'; then
  # Under the lock install-deps.sh takes: a copy running beside this one may
  # be writing the same locale archive.
  flock /var/lock/rigplot-install-deps.lock \
    sh -c "locale -a | grep -qx ja_JP.utf8 || localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"
fi

build=${RIGPLOT_WIN_BUILD:-build-win}
scripts/sqlite-source.sh "$build/sqlite"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"
# The shim is preloaded into Wine itself, a Linux program.
gcc -O2 -Wall -Wextra -Werror -shared -fPIC -o "$build/pty_serial_shim.so" \
  tests/wine/pty_serial_shim.c -ldl
echo "Built in $((SECONDS - started)) s"

# One prefix for this run, booted once and shared by the cases; its own
# temporary directory, X displays and Wine server, so that a copy of the
# test command may run beside it.
work=$(mktemp -d -t rigplot-wine.XXXXXX)
# No menu builder: it would write icons and menu entries into $HOME, which is
# a scratch one too (Wine's profile links, openbox's log).
mkdir "$work/home"
export HOME="$work/home" WINEPREFIX="$work/prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
timeout 300 wineboot -i >/dev/null 2>&1
timeout 120 wineserver -w

export RIGPLOT_WIN_BIN="$PWD/$build" RIGPLOT_PTY_SHIM="$PWD/$build/pty_serial_shim.so"
export PYTHONDONTWRITEBYTECODE=1
echo "== Core unit tests (rigplot_tests.exe)"
timeout 600 wine "$build/rigplot_tests.exe" --gtest_brief=1 </dev/null
echo "== rigplotd.exe on a pseudo-terminal COM1"
timeout 600 python3 tests/wine/serial_test.py </dev/null
echo "== rigplot.exe in Xvfb"
RIGPLOT_SCREENSHOTS="$PWD/$build/screenshots" timeout 900 python3 tests/wine/gui_test.py </dev/null

echo "== Release zip"
python3 - "$build" <<'PY'
import glob, sys, zipfile
zips = glob.glob(sys.argv[1] + "/rigplot-*-windows-x64.zip")
assert len(zips) == 1, zips
names = sorted(n for n in zipfile.ZipFile(zips[0]).namelist() if not n.endswith("/"))
stem = zips[0].rsplit("/", 1)[1][:-len(".zip")]
expected = sorted(f"{stem}/{name}" for name in ("README.md", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt",
                                                 "rigplot.exe", "rigplotd.exe"))
assert names == expected, names
print(zips[0], names)
PY
echo "== Installer: silent install, rigplot.exe from the Start menu, upgrade and uninstall"
version=$(sed -n 's/^project(rigplot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
RIGPLOT_SETUP="$PWD/$build/rigplot-$version-setup-x64.exe" RIGPLOT_VERSION=$version \
  timeout 600 python3 tests/wine/installer_test.py </dev/null
echo "Windows build and tests passed in $((SECONDS - started)) s"
