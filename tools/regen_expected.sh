#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Rewrites the map scripts that the captured sessions in tests/data/sessions
# must produce, after a change of behaviour made on purpose. Review the diff
# before committing it: every changed line is a changed output.
#
#   tools/regen_expected.sh [BUILD_DIR]            the .mps files only
#   tools/regen_expected.sh --capture [BUILD_DIR]  first capture the rigplot-sim
#                                                  sessions anew from the program
set -euo pipefail
cd "$(dirname "$0")/.."

capture=false
if [[ ${1:-} == --capture ]]; then
  capture=true
  shift
fi
build=${1:-build}
sessions=tests/data/sessions
cmake --build "$build" --target rigplot_tests rigplot-sim >/dev/null

# name and rigplot-sim options of every simulated session
sim_sessions=(
  "sim-seed1-20-stations --seed 1 --stations 20 --count 150 --noise 10"
  "sim-seed2-120-stations --seed 2 --stations 120 --count 400 --noise 5"
  "sim-seed3-clean --seed 3 --stations 5 --count 40 --noise 0"
)

# Reads what rigplot-sim sends on its pseudo-terminal, as a receiver would.
capture_session() {
  local out=$1
  shift
  local port_file
  port_file=$(mktemp)
  "$build/rigplot-sim" --fast --linger 0.2 "$@" >"$port_file" 2>/dev/null &
  local sim=$!
  while [[ ! -s $port_file ]]; do sleep 0.05; done
  # The simulator made the line raw; reads must wait for bytes, and cat ends
  # with the hang-up when the simulator closes its side.
  local device
  device=/dev/$(head -n1 "$port_file")
  stty -F "$device" min 1 time 0
  cat "$device" >"$out" 2>/dev/null || true
  wait "$sim"
  rm -f "$port_file"
}

if $capture; then
  for entry in "${sim_sessions[@]}"; do
    read -r name options <<<"$entry"
    # shellcheck disable=SC2086
    capture_session "$sessions/$name.nmea" $options
    echo "captured $sessions/$name.nmea ($(wc -c <"$sessions/$name.nmea") bytes)"
  done
fi

RIGPLOT_REGEN_SESSIONS=1 "$build/rigplot_tests" --gtest_filter='SessionReplay.*' >/dev/null
git status --short -- "$sessions"
