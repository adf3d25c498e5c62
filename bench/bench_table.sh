#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks and prints one table of RIGPLOT's figures, in
# Markdown, with the machine they were taken on.
#
#   bench/bench_table.sh [BUILD_DIR [BEFORE]]      (default build-bench)
#
# BEFORE, a commit, adds the parser's figures at that commit, built in a
# scratch directory and run on the same streams in the same sitting: the
# parser's before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
before=${2:-}
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

parser=$(bench 'BM_Parser')
core=$(bench 'BM_StoreReport|BM_Render100|BM_Rewrite100|BM_AllFourFiles100')
link=$(bench 'BM_EndToEndPty')
idle=$(bench 'BM_IdleSilentLine')
page=$(bench 'BM_PageEventLatency')
range=$(bench 'BM_HostileRange')
# Empty where the build has no MQTT.
mqtt_worker=$(bench 'BM_MqttWorkerCostPerReport')
mqtt_rate=$(bench 'BM_MqttPublishRate')
# Medians of five interleaved runs: the worker's figures are a few µs apart.
page_worker=$("$build/rigplot_bench" --benchmark_format=csv --benchmark_filter=BM_WorkerStoreAndRewrite \
  --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '^"?name|_median"')
# Tiles from a 1 GB MBTiles file the benchmark makes (RIGPLOT_BENCH_TILES_MB);
# medians of three interleaved runs.
medians() {
  "$build/rigplot_bench" --benchmark_format=csv --benchmark_filter="$1" --benchmark_repetitions=3 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '^"?name|_median"'
}
tile_answers=$(medians BM_TileAnswer)
tile_workers=$(medians BM_WorkerBesideTileViewers)
ticks_per_second=$(getconf CLK_TCK)

dir=$(mktemp -d)
trap 'kill "${sim:-}" "${daemon:-}" 2>/dev/null || true; rm -rf "$dir"' EXIT

# The parser at BEFORE: its benchmark reads streams/mixed.nmea, so each stream
# in turn takes that name in the scratch tree.
declare -A before_mbs=()
if [[ -n $before ]]; then
  git archive "$before" | (mkdir "$dir/before" && tar -x -C "$dir/before")
  cmake -S "$dir/before" -B "$dir/before/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DRIGPLOT_TESTS=OFF -DRIGPLOT_DESKTOP=OFF >/dev/null
  cmake --build "$dir/before/build" --target rigplot_bench >/dev/null
  for stream in mixed noisy; do
    cp "tests/data/streams/$stream.nmea" "$dir/before/tests/data/streams/mixed.nmea"
    before_mbs[$stream]=$("$dir/before/build/rigplot_bench" --benchmark_format=csv \
      --benchmark_filter='BM_ParserThroughput' 2>/dev/null | field BM_ParserThroughput bytes_per_second)
  done
fi

# The whole rigplotd process on a silent line: one report, then nothing for 10 s.
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
(cd "$dir" && TEMP=$dir exec "$OLDPWD/$build/rigplotd" --web 127.0.0.1:0 2>"$dir/rigplotd.err") &
daemon=$!
if ! (wait_file "$dir/0.mps" "rigplotd's first map script"); then
  cat "$dir/rigplotd.err" >&2
  exit 1
fi
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
mbs() { figure "$(field "$1" bytes_per_second <<<"$parser")" 1e-6 0; }
store_known=$(figure "$(field BM_StoreReportFullTable cpu_time <<<"$core")" 1 0)
store_evicting=$(figure "$(field BM_StoreReportEvicting cpu_time <<<"$core")" 1 0)
render=$(figure "$(field BM_Render100 cpu_time <<<"$core")" 1e-3 1)
rewrite=$(figure "$(field BM_Rewrite100 real_time <<<"$core")" 1e-3 1)
all_four=$(figure "$(field BM_AllFourFiles100 real_time <<<"$core")" 1e-3 1)
link_disk=$(figure "$(field BM_EndToEndPty items_per_second <<<"$link")" 1 0)
link_tmpfs=$(figure "$(field BM_EndToEndPtyTmpfs items_per_second <<<"$link")" 1 0)
worker_ticks=$(figure "$(field BM_IdleSilentLine cpu_ms <<<"$idle")" "$(figure "$ticks_per_second" 1e-3 6)" 0)
worker_wakeups=$(figure "$(field BM_IdleSilentLine voluntary_wakeups <<<"$idle")" 1 0)
page_p50=$(figure "$(field BM_PageEventLatency/iterations:1 p50_ms <<<"$page")" 1 2)
page_p99=$(figure "$(field BM_PageEventLatency/iterations:1 p99_ms <<<"$page")" 1 2)
page_missed=$(field BM_PageEventLatency/iterations:1 missed_events <<<"$page")
page_rss=$(figure "$(field BM_PageEventLatency/iterations:1 rss_mb <<<"$page")" 1 1)
page_threads=$(field BM_PageEventLatency/iterations:1 threads_serving <<<"$page")
range_kb=$(figure "$(field BM_HostileRange/iterations:1 answer_kb <<<"$range")" 1 0)
range_peak=$(figure "$(field BM_HostileRange/iterations:1 peak_rss_mb <<<"$range")" 1 1)
worker_of() {
  awk -F, -v name="\"BM_WorkerStoreAndRewrite/$1/min_time:3.000/real_time_median\"" '
    NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); at[$i] = i } }
    $1 == name { print $(at["worker_cpu_us_per_report"]) }' <<<"$page_worker"
}
worker_off=$(worker_of -1)
worker_none=$(worker_of 0)
worker_thousand=$(worker_of 1000)
worker_share=$(awk -v a="$worker_thousand" -v b="$worker_none" 'BEGIN { printf "%+.0f", (a / b - 1) * 100 }')

echo "Machine: $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -n1), $(nproc) cores," \
  "Linux $(uname -r), $(g++ --version | head -n1), $(date -u +%Y-%m-%d)"
echo
echo "| Figure | Value |"
echo "|---|---|"
for stream in mixed noisy; do
  # mixed: the captured test stream; noisy: more other sentences, bad
  # checksums, cut lines and binary junk than reports.
  if [[ -n ${before_mbs[$stream]:-} ]]; then
    echo "| Parser at $before, $stream stream | $(figure "${before_mbs[$stream]}" 1e-6 0) MB/s |"
  fi
  echo "| Parser, byte entry, $stream stream | $(mbs "BM_ParserByteAtATime/$stream") MB/s |"
  echo "| Parser, block entry, $stream stream | $(mbs "BM_ParserBlock/$stream") MB/s |"
done
echo "| StoreReport, known station, full table | $store_known ns |"
echo "| StoreReport, new station evicting the oldest | $store_evicting ns |"
echo "| Render, 100 stations | $render µs |"
echo "| Full rewrite, 100 stations, map on /tmp | $rewrite µs |"
echo "| Map script, GeoJSON, KML and a log line per report, 100 stations, on /tmp | $all_four µs |"
echo "| End to end through a pty, 100 stations, map on /tmp | $link_disk reports/s |"
echo "| End to end through a pty, 100 stations, map on tmpfs | $link_tmpfs reports/s |"
echo "| Idle receive worker, silent line, 10 s | $worker_ticks CPU ticks, $worker_wakeups wake-ups |"
echo "| Idle rigplotd process (page on), silent line, 10 s | $daemon_ticks CPU ticks, $daemon_wakeups wake-ups |"
echo "| Page: completing byte to \`stations\` event, rigplotd, 100 stations, 1,000 clients, 20 reports/s" \
  "| p50 $page_p50 ms, p99 $page_p99 ms, $page_missed events missed |"
echo "| rigplotd serving those 1,000 clients | $page_rss MB RSS, $page_threads threads in all |"
echo "| 100 requests with an 8 KB Range of thousands of parts | answer $range_kb KB, rigplotd's peak RSS $range_peak MB |"
echo "| Worker per report, map on tmpfs: page off / page, no client / page, 1,000 clients" \
  "| $(figure "$worker_off" 1 1) / $(figure "$worker_none" 1 1) / $(figure "$worker_thousand" 1 1) µs" \
  "(1,000 clients: $worker_share%) |"
# tile_of NAME COLUMN: a column of a tile benchmark's median row.
tile_of() {
  local csv=$tile_answers
  [[ $1 == BM_WorkerBesideTileViewers* ]] && csv=$tile_workers
  awk -F, -v name="\"$1_median\"" -v column="$2" '
    NR == 1 { for (i = 1; i <= NF; i++) { gsub(/"/, "", $i); at[$i] = i } }
    $1 == name { print $(at[column]) }' <<<"$csv"
}
tile_answer=BM_TileAnswer/iterations:5000/real_time
tile_idle=$(tile_of BM_WorkerBesideTileViewers/0/min_time:3.000/real_time worker_cpu_us_per_report)
tile_busy=$(tile_of BM_WorkerBesideTileViewers/100/min_time:3.000/real_time worker_cpu_us_per_report)
echo "| A tile from a $(figure "$(tile_of $tile_answer file_mb)" 1 0) MB MBTiles file, one viewer on loopback" \
  "| p50 $(figure "$(tile_of $tile_answer p50_ms)" 1 3) ms, p99 $(figure "$(tile_of $tile_answer p99_ms)" 1 3) ms |"
echo "| Worker per report, map on /tmp: nobody looking / 100 viewers panning (1,000 tiles/s)" \
  "| $(figure "$tile_idle" 1 1) / $(figure "$tile_busy" 1 1) µs" \
  "($(awk -v a="$tile_busy" -v b="$tile_idle" 'BEGIN { printf "%+.0f", (a / b - 1) * 100 }')%) |"
if [[ -n $mqtt_worker ]]; then
  echo "| MQTT publisher: worker per report (the queue) / reports to a local mosquitto" \
    "| $(figure "$(field BM_MqttWorkerCostPerReport real_time <<<"$mqtt_worker")" 1e-3 2) µs /" \
    "$(figure "$(field BM_MqttPublishRate/iterations:3 reports_per_s <<<"$mqtt_rate")" 1 0) reports/s |"
fi
