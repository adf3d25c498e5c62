#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages (amd64, and arm64 with the cross compiler) and
# tests them: lintian with no error or warning; the core unit tests of the
# arm64 build under qemu-user; and in a throw-away copy of this machine's root
# for each architecture: install, the programs' version, the account, the
# conffiles, `systemd-analyze verify` of the unit with nothing on stderr, the
# man pages, one rigplotd session through a pseudo-terminal (under qemu for
# arm64), remove, reinstall and purge back to the system as it was. Then the
# amd64 service package under a real systemd booted by systemd-nspawn
# (tests/package/nspawn_boot.sh). Exits non-zero on any failure. Run as root.
#
# The throw-away root is an overlay over / in a private mount namespace; where
# that cannot be made (no overlayfs) or no container boots, those parts are
# skipped with a line starting "SKIP:" and the summary names them. dpkg never
# runs on this machine's own root.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
scripts/install-deps.sh lintian python3 man-db systemd systemd-container qemu-user

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export RIGPLOT_OUT=$work/out
scripts/package.sh amd64 arm64
version=$(sed -n 's/^project(rigplot VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
amd64_debs=("$RIGPLOT_OUT"/rigplotd_"$version"-1_amd64.deb "$RIGPLOT_OUT"/rigplot_"$version"-1_amd64.deb)
arm64_debs=("$RIGPLOT_OUT"/rigplotd_"$version"-1_arm64.deb)
ls -l "${amd64_debs[@]}" "${arm64_debs[@]}"
echo "Packages built in $((SECONDS - started)) s"

echo "== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "${amd64_debs[@]}" "${arm64_debs[@]}"

echo "== Core unit tests, arm64, under qemu-user"
ctest --test-dir build-pkg/arm64 -L unit --output-on-failure -j"$(nproc)" --timeout 900

# Runs deb_cycle.sh with the .deb files given, in a copy of / whose changes
# vanish with the namespace, or else on this machine.
overlay_root() {
  # shellcheck disable=SC2016
  unshare -m --propagation private bash -euo pipefail -c '
    scratch=$1 stage=$2
    shift 2
    mount -t tmpfs tmpfs "$scratch"
    mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
    root=$scratch/root
    mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
    mount --rbind /dev "$root/dev"
    mount -t proc proc "$root/proc"
    mount -t tmpfs tmpfs "$root/run"
    mount -t tmpfs tmpfs "$root/tmp"
    mkdir -p "$root/run/lock" "$root/pkgtest"
    cp -r "$stage"/. "$root/pkgtest/"
    exec chroot "$root" env PYTHONDONTWRITEBYTECODE=1 "$@"
  ' _ "$work/scratch" "$work/stage" "$@"
}
mkdir -p "$work/scratch" "$work/stage"
skipped=()
deb_cycle() {
  local emulator=$1
  shift
  rm -rf "$work/stage"/*
  cp tests/package/deb_cycle.sh tests/package/rigplotd_session.py "$@" "$work/stage/"
  local names=()
  for deb in "$@"; do names+=("/pkgtest/$(basename "$deb")"); done
  overlay_root bash /pkgtest/deb_cycle.sh "$version" "$emulator" "${names[@]}"
}

if overlay_root true 2>/dev/null; then
  echo "== Install, remove, purge: amd64"
  deb_cycle "" "${amd64_debs[@]}"
  echo "== Install, remove, purge: arm64 (programs under qemu-user)"
  deb_cycle qemu-aarch64 "${arm64_debs[@]}"
else
  echo "SKIP: install, remove and purge: no overlay of / can be mounted here (overlayfs in a private mount namespace)"
  skipped+=("the install cycle")
fi

echo "== The service under a real systemd (systemd-nspawn), amd64"
boot_status=0
tests/package/nspawn_boot.sh "${amd64_debs[0]}" || boot_status=$?
if ((boot_status == 77)); then
  skipped+=("the systemd boot test")
elif ((boot_status != 0)); then
  exit "$boot_status"
fi

if ((${#skipped[@]})); then
  echo "Package tests passed in $((SECONDS - started)) s, but SKIPPED: ${skipped[*]}"
else
  echo "Package tests passed in $((SECONDS - started)) s"
fi
