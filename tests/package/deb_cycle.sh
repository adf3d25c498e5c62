#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the packages, checks what they set up, removes them, installs them
# again and purges them; the system must then be as it was. Runs as root in
# the root it is to change (scripts/test-packages.sh gives it a throw-away
# copy of the machine's).
#
# Usage: deb_cycle.sh VERSION EMULATOR DEB...
#   VERSION   the project's version, which the programs must say
#   EMULATOR  runs the installed programs ("" or qemu-aarch64)
# The session test (rigplotd_session.py) must lie beside this script.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=$1
emulator=$2
shift 2
debs=("$@")
packages=()
for deb in "${debs[@]}"; do packages+=("$(dpkg-deb -f "$deb" Package)"); done

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
run() { $emulator "$@"; }
# What the packages may not leave changed: every path with its mode and owner,
# and what /etc holds; not dpkg's own records, the logs, the caches and the
# account files' backups (passwd- and the like).
snapshot() {
  local skip=(\( -path /var/lib/dpkg -o -path /var/log -o -path /var/cache -o -path /var/tmp
    -o -path /var/lib/apt -o -regex '/etc/[a-z]*-' \) -prune)
  find /etc /usr /var /lib /bin /sbin /opt /srv /home -xdev "${skip[@]}" \
    -o -printf '%p %M %u:%g\n' 2>/dev/null | sort
  find /etc -xdev "${skip[@]}" -o -type f -exec md5sum {} + 2>/dev/null | sort
}
unit=/usr/lib/systemd/system/rigplotd.service
wants=/etc/systemd/system/multi-user.target.wants/rigplotd.service

before=$(snapshot)
echo "== a login user named rigplot is refused, and kept"
useradd --uid 1999 --shell /bin/bash rigplot
if refused=$(dpkg -i "${debs[0]}" 2>&1); then fail "installed over a login user rigplot"; fi
grep -q "already exists and is no system account" <<<"$refused" || fail "postinst did not say why: $refused"
dpkg -P "${packages[0]}" >/dev/null
[[ $(getent passwd rigplot | cut -d: -f3) == 1999 ]] || fail "the login user rigplot was changed"
id -nG rigplot | grep -qw dialout && fail "the login user rigplot was put in dialout"
userdel rigplot

echo "== dpkg -i ${packages[*]}"
dpkg -i "${debs[@]}"

[[ $(run /usr/bin/rigplotd --version | head -n 1) == "rigplotd $version" ]] ||
  fail "rigplotd --version: $(run /usr/bin/rigplotd --version)"
[[ $(run /usr/bin/rigplot-sim --version) == "rigplot-sim $version" ]] ||
  fail "rigplot-sim --version: $(run /usr/bin/rigplot-sim --version)"
[[ $(run /usr/bin/rigplot-history --version) == "rigplot-history $version" ]] ||
  fail "rigplot-history --version: $(run /usr/bin/rigplot-history --version)"
account=$(getent passwd rigplot) || fail "no rigplot account"
IFS=: read -r _ _ uid _ _ home shell <<<"$account"
((uid < 1000)) || fail "rigplot is not a system account: $account"
[[ $home == /var/lib/rigplot && $shell == */nologin ]] || fail "rigplot account: $account"
id -nG rigplot | grep -qw dialout || fail "rigplot is not in dialout: $(id -nG rigplot)"
[[ $(stat -c %U:%G /var/lib/rigplot) == rigplot:rigplot ]] ||
  fail "/var/lib/rigplot is $(stat -c %U:%G /var/lib/rigplot)"
conffiles=$(dpkg-query -W -f='${Conffiles}' rigplotd)
for conffile in /etc/rigplot/RIGPLOT.ini /etc/default/rigplotd; do
  grep -q "^ $conffile " <<<"$conffiles" || fail "$conffile is no conffile: $conffiles"
done
[[ -L $wants ]] || fail "the unit is not enabled"
grep -q '^#' /etc/rigplot/RIGPLOT.ini || fail "the settings file names a port: $(cat /etc/rigplot/RIGPLOT.ini)"
# systemd-analyze exits 0 on unknown keys and types: any word on stderr fails.
verify_err=$(systemd-analyze verify "$unit" 2>&1 >/dev/null) || fail "systemd-analyze verify: $verify_err"
[[ -z $verify_err ]] || fail "systemd-analyze verify said: $verify_err"
page=$(MANWIDTH=200 man -P cat rigplotd 2>/dev/null)
for item in --geojson --kml --log --web --tiles --help --version RIGPLOT.ini SIGUSR1 \
  "adapter gone from" "stopped after" /var/lib/rigplot/0.mps "$unit" SYSTEMD_WANTS; do
  grep -qF -- "$item" <<<"$page" || fail "man rigplotd does not mention $item"
done
man -w rigplot-sim >/dev/null || fail "no man page rigplot-sim(1)"
man -w rigplot-history >/dev/null || fail "no man page rigplot-history(1)"
if [[ " ${packages[*]} " == *" rigplot "* ]]; then
  for file in /usr/bin/rigplot /usr/share/applications/rigplot.desktop \
    /usr/share/icons/hicolor/32x32/apps/rigplot.png; do
    [[ -e $file ]] || fail "$file missing"
  done
  man -w rigplot >/dev/null || fail "no man page rigplot(1)"
  grep -q "EXIT STATUS" <<<"$(MANWIDTH=200 man -P cat rigplot 2>/dev/null)" || fail "rigplot(1) has no EXIT STATUS"
fi
echo "== the installed rigplotd in a session"
python3 "$here/rigplotd_session.py" --emulator "$emulator" /usr/bin/rigplotd
# What the service leaves behind, as if it had run.
runuser -u rigplot -- touch /var/lib/rigplot/0.mps

echo "== dpkg -r ${packages[*]}"
dpkg -r "${packages[@]}"
for file in /usr/bin/rigplotd /usr/bin/rigplot-sim /usr/bin/rigplot "$unit" "$wants"; do
  [[ ! -e $file ]] || fail "$file is left after remove"
done
for file in /etc/rigplot/RIGPLOT.ini /etc/default/rigplotd /var/lib/rigplot/0.mps; do
  [[ -e $file ]] || fail "remove took $file, which only purge may take"
done
getent passwd rigplot >/dev/null || fail "remove took the account"

echo "== dpkg -i again, then dpkg -P"
dpkg -i "${debs[@]}"
[[ -L $wants ]] || fail "the unit is not enabled again after a reinstall"
dpkg -P "${packages[@]}"
after=$(snapshot)
if [[ $before != "$after" ]]; then
  diff <(echo "$before") <(echo "$after") >&2 || true
  fail "the system differs after purge (above: < before install, > after purge)"
fi
echo "deb cycle passed: ${packages[*]}"
