#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The stress half of the test command: the whole suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, the threaded parts under ThreadSanitizer,
# and every fuzz target for a bounded time. Exits non-zero on any finding.
#
#   scripts/stress.sh [FUZZ_SECONDS_PER_TARGET]     (default 30)
#
# A fuzzer's finding lands in build-fuzz/findings/. Debug it with the replay
# program (build/report_fuzz_replay FILE); once fixed, keep the input under
# tests/data/fuzz/<target>/ so that the normal test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-30}
jobs=$(nproc)
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIGPLOT_DESKTOP=OFF -DRIGPLOT_BENCH=OFF)

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: unit and integration suites"
cmake -S . -B build-asan "${common[@]}" -DRIGPLOT_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
RIGPLOT_SOAK_SECONDS=10 ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer: the worker, the stop sequence, clears racing rewrites, the history writer"
cmake -S . -B build-tsan "${common[@]}" -DRIGPLOT_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target rigplot_tests
build-tsan/rigplot_tests \
  --gtest_filter='ReceiveWorkerTest.*:WorkerRace.*:StationTableTest.*:MapScriptWrite.*:HistoryStore.*'

echo "== libFuzzer: ${fuzz_seconds} s per target"
CXX=clang++-14 cmake -S . -B build-fuzz "${common[@]}" -DRIGPLOT_TESTS=OFF -DRIGPLOT_FUZZ=ON \
  -DRIGPLOT_SANITIZE=address,undefined >/dev/null
cmake --build build-fuzz -j"$jobs" --target report_fuzz settings_fuzz hub_fuzz track_query_fuzz
corpus=build-fuzz/corpus
mkdir -p "$corpus/report" "$corpus/settings" "$corpus/hub" "$corpus/track_query"
rm -rf build-fuzz/findings
mkdir build-fuzz/findings
# Seeds from the captured streams; the report target reads its first 9 bytes
# as the table's fill and the read sizes, so the streams get such a header.
for stream in tests/data/streams/*.nmea tests/data/sessions/*.nmea; do
  { printf '\000\005\021\100\001\007\040\377\002'; cat "$stream"; } \
    >"$corpus/report/seed-$(basename "$stream")"
done
cp tests/data/fuzz/report/* "$corpus/report/" 2>/dev/null || true
cp fuzz/corpus/settings/* tests/data/fuzz/settings/* "$corpus/settings/"
cp fuzz/corpus/hub/* "$corpus/hub/"
cp fuzz/corpus/track_query/* "$corpus/track_query/"

run_fuzzer() {
  local target=$1
  shift
  if ! "build-fuzz/${target}_fuzz" -max_total_time="$fuzz_seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/findings/ "$@" "$corpus/$target" \
    >"build-fuzz/$target.log" 2>&1; then
    tail -n 40 "build-fuzz/$target.log"
    echo "FAIL: ${target}_fuzz found an input that breaks it: build-fuzz/findings/" >&2
    exit 1
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$target.log")
  echo "${target}_fuzz: ${runs} inputs in ${fuzz_seconds} s, nothing found"
}
# Long inputs only slow it down: every report renders the whole table.
run_fuzzer report -dict=fuzz/report.dict -max_len=2048
run_fuzzer settings
# What a broker and a page's client send.
run_fuzzer hub
run_fuzzer track_query
