#!/usr/bin/env bash
# Puts cpp-httplib's full single header in DEST/include/httplib.h.
#
# Debian's libcpp-httplib-dev ships a header of declarations and a shared
# library; a static MinGW build needs the whole header. It comes from Debian's
# source package of the installed version, fetched with a private apt
# configuration (own sources list with deb-src for the mirror the binary came
# from, own state and cache folders under DEST), so the system's apt set-up is
# never changed. Runs once per DEST; later runs only check the version stamp.
#
# Usage: scripts/fetch-httplib.sh DEST
set -euo pipefail
dest=${1:?usage: fetch-httplib.sh DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

binary="libcpp-httplib-dev:$(dpkg --print-architecture)"
read -r source version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' "$binary")
stamp="$dest/include/httplib.h.version"
if [ -f "$dest/include/httplib.h" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$version" ]; then
  exit 0
fi

# The mirror, suite and component the installed binary came from.
origins=$(apt-cache policy "$binary" | awk -v v="$version" '
  $1 == "***" { here = ($2 == v); next }
  /^ {5}[^ ]/ { here = ($1 == v); next }
  here && $2 ~ /^[a-z]+:\/\// { print $2, $3 }')
if [ -z "$origins" ]; then
  echo "fetch-httplib: no mirror offers $binary $version (see apt-cache policy $binary)" >&2
  exit 1
fi

apt_dir="$dest/apt"
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
while read -r uri suite_component; do
  echo "deb-src [signed-by=$keyring] $uri ${suite_component%%/*} ${suite_component#*/}"
done <<<"$origins" >"$apt_dir/sources.list"
cat >"$apt_dir/apt.conf" <<EOF
Dir::Etc::sourcelist "$apt_dir/sources.list";
Dir::Etc::sourceparts "$apt_dir/sources.list.d";
Dir::State "$apt_dir/state";
Dir::State::status "/var/lib/dpkg/status";
Dir::Cache "$apt_dir/cache";
APT::Sandbox::User "root";
EOF
export APT_CONFIG="$apt_dir/apt.conf"

apt-get -qq update
work="$dest/source"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get -qq source --only-source "$source=$version" >/dev/null)
header=$(find "$work" -maxdepth 2 -name httplib.h -path "*/$source-*/*" | head -n 1)
if [ -z "$header" ] || ! grep -q "CPPHTTPLIB_VERSION" "$header"; then
  echo "fetch-httplib: no httplib.h in the source package $source $version" >&2
  exit 1
fi
mkdir -p "$dest/include"
cp "$header" "$dest/include/httplib.h"
echo "$version" >"$stamp"
rm -rf "$work" "$apt_dir/cache"
echo "fetch-httplib: $source $version -> $dest/include/httplib.h"
