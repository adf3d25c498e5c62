#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds RIGPLOT and runs it against the bundled radio simulator: no radio needed.
# The desktop program runs when a display is available, the service otherwise.
# Ends on Ctrl+C, or after DEMO_SECONDS (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

pkgs=(g++ cmake ninja-build pkg-config libgtest-dev libboost-dev brotli libjs-leaflet libsystemd-dev scdoc
  libsqlite3-dev libmosquitto-dev)
[ -n "${DISPLAY:-}" ] && pkgs+=(libwxgtk3.2-dev libgtk-3-dev fonts-ipafont-gothic)
scripts/install-deps.sh "${pkgs[@]}"

desktop=OFF
[ -n "${DISPLAY:-}" ] && desktop=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIGPLOT_DESKTOP="$desktop" \
  -DRIGPLOT_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target rigplotd rigplot-sim $([ "$desktop" = ON ] && echo rigplot)

scratch=$(mktemp -d -t rigplot-demo.XXXXXX)
export TEMP="$scratch"
map="$scratch/0.mps"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "Map script kept at $map; GeoJSON, KML, the report log and the history beside it in $scratch"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# The simulator prints the port name for RIGPLOT.ini on its first line.
coproc SIM { exec "$root/build/rigplot-sim" --stations 12 --interval 0.5 --seed 7; }
pids+=("$SIM_PID")
read -r port <&"${SIM[0]}"
echo "$port 9600" >"$scratch/RIGPLOT.ini"
echo "Simulated radio on /dev/$port; RIGPLOT.ini written in $scratch"

cd "$scratch"
# The live map page: DEMO_WEB=ADDR:PORT to serve it elsewhere (0.0.0.0:8073 for the LAN).
web=${DEMO_WEB:-127.0.0.1:8073}
# The open formats beside the map script: what QGIS, Marble or a spreadsheet read;
# the history gives the page its trails.
outputs=(--geojson "$scratch/stations.geojson" --kml "$scratch/stations.kml" --log "$scratch/log"
  --history "$scratch/history.sqlite")
if [ "$desktop" = ON ]; then
  # The window says nothing on stderr; its trace names the page for us.
  RIGPLOT_TRACE=1 "$root/build/rigplot" --web "$web" "${outputs[@]}" 2>"$scratch/program.log" &
else
  "$root/build/rigplotd" --web "$web" "${outputs[@]}" 2> >(tee "$scratch/program.log" >&2) &
fi
pids+=("$!")
# The start line names the page's address; a port already in use is said there too.
for _ in $(seq 50); do
  grep -qE 'page (http|not served)' "$scratch/program.log" 2>/dev/null && break
  sleep 0.1
done
if page=$(grep -oE 'page http://[^ ,]+' "$scratch/program.log" | head -n1); then
  echo "Live map: ${page#page } (open it in a browser; the Trails control draws the tracks)"
  echo "  No internet? The page draws its built-in coastline. For your own map, make an MBTiles"
  echo "  file of your area (QGIS: Generate XYZ tiles (MBTiles)) and add: --tiles mbtiles:FILE"
else
  echo "Live map: no page address from the program (see its lines above)"
fi

end=$((SECONDS + ${DEMO_SECONDS:-30}))
while ((SECONDS < end)); do
  sleep 2
  if [ -f "$map" ]; then
    stations=$(grep -c '^point ' "$map" || true)
    logged=$(cat "$scratch"/log/*.csv 2>/dev/null | grep -vc '^received_at' || true)
    echo "$(date +%T)  $stations stations in $map, stations.geojson and stations.kml; $logged reports in log/"
  else
    echo "$(date +%T)  waiting for the first report..."
  fi
done
