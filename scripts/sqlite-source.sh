#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes SQLite's single-file source (sqlite3.c, sqlite3.h) from Debian's own
# source package, Debian's patches applied, for the Windows build: MinGW has
# no SQLite package. apt fetches the source through a source list of this
# script's own (the machine's lists and settings are not touched) and checks
# it against Debian's signed index.
#
# Usage: scripts/sqlite-source.sh DIR   (e.g. build-win/sqlite; nothing is
# done when DIR already holds both files)
set -euo pipefail
out=${1:?usage: $0 DIR}
if [[ -s $out/sqlite3.c && -s $out/sqlite3.h ]]; then
  exit 0
fi
here=$(cd "$(dirname "$0")" && pwd)
"$here/install-deps.sh" dpkg-dev tcl8.6 make gcc libc6-dev xz-utils debian-archive-keyring

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d -t rigplot-sqlite.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
# The release the machine runs; its security updates reach the source too.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$work/sources.list" <<EOF
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename main
deb-src [signed-by=$keyring] http://deb.debian.org/debian $codename-updates main
deb-src [signed-by=$keyring] http://deb.debian.org/debian-security $codename-security main
EOF
apt_own=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache" -o APT::Sandbox::User=root)
apt-get "${apt_own[@]}" -qq update
(cd "$work" && apt-get "${apt_own[@]}" -qq --download-only source sqlite3)
# apt has checked every file against the archive's signed index; the
# uploader's own signature would need the whole Debian keyring.
dpkg-source --no-check -x "$work"/sqlite3_*.dsc "$work/src" >/dev/null

# The amalgamation is made by the source's own tools (lemon, tclsh).
mkdir "$work/build"
(cd "$work/build" && ../src/configure --disable-tcl >configure.log 2>&1 &&
  make sqlite3.c >make.log 2>&1) ||
  {
    tail -n 40 "$work/build/"*.log >&2
    exit 1
  }
version=$(cd "$work" && ls sqlite3_*.dsc)
echo "${version%.dsc}" >"$out/SOURCE"
# The header first and the source last, each by rename: a run cut short
# leaves no sqlite3.c that the check above would take for whole.
for file in sqlite3.h sqlite3.c; do
  cp "$work/build/$file" "$out/.$file.new"
  mv "$out/.$file.new" "$out/$file"
done
echo "SQLite source ${version%.dsc} in $out"
