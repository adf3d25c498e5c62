#!/usr/bin/env bash
# Builds RIGPLOT and runs it against the bundled radio simulator: no radio needed.
# The desktop program runs when a display is available, the service otherwise.
# Ends on Ctrl+C, or after DEMO_SECONDS (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

pkgs=(g++ cmake ninja-build pkg-config libgtest-dev libbenchmark-dev libsystemd-dev scdoc)
[ -n "${DISPLAY:-}" ] && pkgs+=(libwxgtk3.2-dev libgtk-3-dev fonts-ipafont-gothic)
scripts/install-deps.sh "${pkgs[@]}"

desktop=OFF
[ -n "${DISPLAY:-}" ] && desktop=ON
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIGPLOT_DESKTOP="$desktop" >/dev/null
cmake --build build -j"$(nproc)" --target rigplotd rigplot-sim $([ "$desktop" = ON ] && echo rigplot)

scratch=$(mktemp -d /tmp/rigplot-demo.XXXXXX)
export TEMP="$scratch"
map="$scratch/0.mps"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  echo "Map script kept at $map"
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
if [ "$desktop" = ON ]; then
  "$root/build/rigplot" &
else
  "$root/build/rigplotd" &
fi
pids+=("$!")

end=$((SECONDS + ${DEMO_SECONDS:-30}))
while ((SECONDS < end)); do
  sleep 2
  if [ -f "$map" ]; then
    stations=$(grep -c '^point ' "$map" || true)
    echo "$(date +%T)  $stations stations in $map"
  else
    echo "$(date +%T)  waiting for the first report..."
  fi
done
