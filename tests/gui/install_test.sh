#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a scratch prefix and checks where the desktop
# program, its menu entry and its icons land.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d -t rigplot-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[ -x "$prefix/bin/rigplot" ] || fail "bin/rigplot missing"
entry="$prefix/share/applications/rigplot.desktop"
[ -f "$entry" ] || fail "desktop entry missing"
for line in '[Desktop Entry]' 'Type=Application' 'Name=RIGPLOT' 'Exec=rigplot' 'Icon=rigplot'; do
  grep -qxF "$line" "$entry" || fail "desktop entry lacks '$line'"
done
grep -qxF 'Exec=xdg-open http://127.0.0.1:8073/' "$entry" || fail "no action opening the live map"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop entry does not validate"
fi

for size in 32 16; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/rigplot.png"
  [ -f "$icon" ] || fail "icon ${size}x${size} missing"
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "icon $icon has the wrong size"
  colours=$(identify -format '%k' "$icon")
  ((colours <= 16)) || fail "icon $icon has $colours colours"
done
# Everything below the prefix, and the unit names this prefix's paths.
[ -f "$prefix/etc/rigplot/RIGPLOT.ini" ] || fail "settings file not under the prefix"
unit="$prefix/lib/systemd/system/rigplotd.service"
for line in "ExecStart=$prefix/bin/rigplotd \$RIGPLOTD_OPTIONS" "WorkingDirectory=$prefix/etc/rigplot" \
  "ExecCondition=$prefix/libexec/rigplot/rigplotd-port-check"; do
  grep -qxF "$line" "$unit" || fail "unit lacks '$line'"
done
echo "PASS install layout"
