#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Boots a real systemd with systemd-nspawn on a throw-away overlay of this
# machine's root and runs boot_checks.py there as a unit, on the rigplotd
# package given. Nothing reaches this machine: the overlay's changes live in a
# tmpfs of a private mount namespace, and the container has its own network.
#
# Usage: nspawn_boot.sh RIGPLOTD_DEB
# Exits 0 when the checks pass, 77 (after a line starting "SKIP:") when no
# container can be booted here, 1 on a failure.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(realpath "$1")

skip() {
  echo "SKIP: the systemd boot test did not run: $*"
  exit 77
}
command -v systemd-nspawn >/dev/null || skip "no systemd-nspawn (Debian: systemd-container)"
[[ -x /lib/systemd/systemd ]] || skip "no systemd in this machine's root to boot"

work=$(mktemp -d -t rigplot-nspawn.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stage" "$work/scratch"
cp "$here/boot_checks.py" "$here/../support/nmea.py" "$here/../support/pty_radio.py" \
  "$here/../support/wait.py" "$deb" "$work/stage/"

status=0
# shellcheck disable=SC2016
unshare -m --propagation private bash -euo pipefail -c '
  scratch=$1 stage=$2 deb=$3 log=$4
  mount -t tmpfs tmpfs "$scratch"
  mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
  root=$scratch/root
  mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root" ||
    exit 77
  mkdir "$root/pkgtest"
  cp "$stage"/* "$root/pkgtest/"
  # The checks run once the basic system is up, and their status ends the
  # container. Only that is booted: the services this machine has installed
  # (a database, say) would change files beside those of the package.
  cat >"$root/etc/systemd/system/rigplot-boot-checks.target" <<UNIT
[Unit]
Requires=basic.target rigplot-boot-checks.service
After=basic.target
AllowIsolate=yes
UNIT
  cat >"$root/etc/systemd/system/rigplot-boot-checks.service" <<UNIT
[Unit]
After=basic.target
[Service]
Type=exec
Environment=PYTHONDONTWRITEBYTECODE=1
ExecStart=/bin/sh -c "python3 /pkgtest/boot_checks.py /pkgtest/$deb > /pkgtest/checks.log 2>&1; systemctl exit \$\$?"
UNIT
  # The ban on starting services that container images carry (policy-rc.d)
  # would keep the maintainer scripts of the package from starting the unit.
  rm -f "$root/usr/sbin/policy-rc.d"
  set +e
  timeout --kill-after=30 900 systemd-nspawn --quiet --directory="$root" --boot \
    --register=no --keep-unit --link-journal=no --private-network --console=pipe \
    systemd.unit=rigplot-boot-checks.target </dev/null >"$log" 2>&1
  status=$?
  cp "$root/pkgtest/checks.log" "$log.checks" 2>/dev/null
  exit $status
' _ "$work/scratch" "$work/stage" "$(basename "$deb")" "$work/boot.log" || status=$?

[[ -f $work/boot.log.checks ]] && cat "$work/boot.log.checks"
if ((status == 0)) && grep -q "^boot checks passed$" "$work/boot.log.checks" 2>/dev/null; then
  exit 0
fi
if [[ ! -f $work/boot.log.checks ]]; then
  # The container never reached the checks.
  tail -40 "$work/boot.log" | sed 's/\x1b\[[0-9;]*m//g'
  ((status == 77)) && skip "no overlay of / here"
  grep -q "^Welcome to " "$work/boot.log" ||
    skip "systemd-nspawn could not boot a container here (status $status, above)"
fi
echo "FAILED: the systemd boot test (container status $status)"
exit 1
