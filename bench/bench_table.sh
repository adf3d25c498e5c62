#!/usr/bin/env bash
# Builds the benchmarks and prints one table of RIGPLOT's figures, in
# Markdown, with the machine they were taken on.
#
#   bench/bench_table.sh [BUILD_DIR]      (default build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRIGPLOT_TESTS=OFF \
  -DRIGPLOT_DESKTOP=OFF -DRIGPLOT_BENCH=ON >/dev/null
cmake --build "$build" --target rigplot_bench rigplotd rigplot-sim >/dev/null

# One CSV run per group: the CSV reporter wants the same counters in every row.
bench() { "$build/rigplot_bench" --benchmark_format=csv --benchmark_filter="$1" 2>/dev/null; }
# field NAME COLUMN: a column of one benchmark's row, by the header's name.
field() {
  awk -F, -v name="\"$1\"" -v column="$2" '
    NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); at[$i] = i } }
    $1 == name || $1 == substr(name, 1, length(name) - 1) "/real_time\"" { print $(at[column]) }'
}

core=$(bench 'BM_ParserThroughput|BM_StoreReport|BM_Render100|BM_Rewrite100')
link=$(bench 'BM_EndToEndPty')
idle=$(bench 'BM_IdleSilentLine')
ticks_per_second=$(getconf CLK_TCK)

# The whole rigplotd process on a silent line: one report, then nothing for 10 s.
dir=$(mktemp -d)
trap 'kill "${sim:-}" "${daemon:-}" 2>/dev/null || true; rm -rf "$dir"' EXIT
"$build/rigplot-sim" --seed 1 --count 1 --linger 60 >"$dir/port" 2>/dev/null &
sim=$!
# wait_file FILE WHAT: until FILE has content; gives up after 60 s.
wait_file() {
  local end=$((SECONDS + 60))
  until [[ -s $1 ]]; do
    ((SECONDS < end)) || { echo "bench_table.sh: waited 60 s for $2; $1 is empty" >&2; exit 1; }
    sleep 0.05
  done
}
wait_file "$dir/port" "rigplot-sim to name its port"
echo "$(head -n1 "$dir/port") 9600" >"$dir/RIGPLOT.ini"
(cd "$dir" && TEMP=$dir exec "$OLDPWD/$build/rigplotd" 2>/dev/null) &
daemon=$!
wait_file "$dir/0.mps" "rigplotd's first map script"
sleep 1
process_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$daemon/stat"; }
process_wakeups() { cat /proc/"$daemon"/task/*/status | awk '/ctxt_switches/ { n += $2 } END { print n }'; }
ticks_before=$(process_ticks)
wakeups_before=$(process_wakeups)
sleep 10
daemon_ticks=$(($(process_ticks) - ticks_before))
daemon_wakeups=$(($(process_wakeups) - wakeups_before))

# figure VALUE FACTOR DIGITS: VALUE times FACTOR, rounded.
figure() { awk -v v="$1" -v f="$2" -v d="$3" 'BEGIN { printf "%.*f", d, v * f }'; }
parser=$(figure "$(field BM_ParserThroughput bytes_per_second <<<"$core")" 1e-6 0)
store_known=$(figure "$(field BM_StoreReportFullTable cpu_time <<<"$core")" 1 0)
store_evicting=$(figure "$(field BM_StoreReportEvicting cpu_time <<<"$core")" 1 0)
render=$(figure "$(field BM_Render100 cpu_time <<<"$core")" 1e-3 1)
rewrite=$(figure "$(field BM_Rewrite100 real_time <<<"$core")" 1e-3 1)
link_disk=$(figure "$(field BM_EndToEndPty items_per_second <<<"$link")" 1 0)
link_tmpfs=$(figure "$(field BM_EndToEndPtyTmpfs items_per_second <<<"$link")" 1 0)
worker_ticks=$(figure "$(field BM_IdleSilentLine cpu_ms <<<"$idle")" "$(figure "$ticks_per_second" 1e-3 6)" 0)
worker_wakeups=$(figure "$(field BM_IdleSilentLine voluntary_wakeups <<<"$idle")" 1 0)

echo "Machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n1), $(nproc) cores," \
  "Linux $(uname -r), $(g++ --version | head -n1), $(date -u +%Y-%m-%d)"
echo
echo "| Figure | Value |"
echo "|---|---|"
echo "| Parser throughput, mixed captured stream | $parser MB/s |"
echo "| StoreReport, known station, full table | $store_known ns |"
echo "| StoreReport, new station evicting the oldest | $store_evicting ns |"
echo "| Render, 100 stations | $render µs |"
echo "| Full rewrite, 100 stations, map on /tmp | $rewrite µs |"
echo "| End to end through a pty, 100 stations, map on /tmp | $link_disk reports/s |"
echo "| End to end through a pty, 100 stations, map on tmpfs | $link_tmpfs reports/s |"
echo "| Idle receive worker, silent line, 10 s | $worker_ticks CPU ticks, $worker_wakeups wake-ups |"
echo "| Idle rigplotd process, silent line, 10 s | $daemon_ticks CPU ticks, $daemon_wakeups wake-ups |"
