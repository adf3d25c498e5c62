#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages named on the command line that are not there yet.
set -euo pipefail
missing() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || echo "$pkg"
  done
}
[ -n "$(missing "$@")" ] || exit 0

# Copies of the test command may start side by side on a fresh machine: one
# installs at a time, and the next finds the packages there.
exec 9>/var/lock/rigplot-install-deps.lock
flock 9
mapfile -t packages < <(missing "$@")
if ((${#packages[@]})); then
  echo "Installing: ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}"
fi
