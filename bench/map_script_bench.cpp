// SPDX-License-Identifier: MIT
// The map rewrite runs after every report, with the table locked: it must
// stay far below the time between two reports on the slowest line.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "bench/sample_table.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"

namespace {

using rigplot::bench::FillTable;

// Stations heard at a fixed time; the map script shows the received text only.
constexpr std::time_t kHeard = 1796678625;

void BM_Render100(benchmark::State& state) {
  rigplot::StationTable table;
  FillTable(table, kHeard);
  std::tm now{};
  now.tm_year = 125;
  now.tm_mday = 5;
  std::string out;
  std::scoped_lock lock(table.mutex());
  for (auto _ : state) {
    rigplot::MapScriptWriter::Render(out, "/tmp/0.mps", table, now);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_Render100);

void BM_Rewrite100(benchmark::State& state) {
  rigplot::StationTable table;
  FillTable(table, kHeard);
  char dir[] = "/tmp/rigplot-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no scratch directory");
    return;
  }
  const std::string path = std::string(dir) + "/0.mps";
  rigplot::MapScriptWriter writer;
  std::scoped_lock lock(table.mutex());
  for (auto _ : state) {
    if (!writer.Write(path, table)) {
      state.SkipWithError("rewrite failed");
      break;
    }
  }
  std::remove(path.c_str());
  rmdir(dir);
}
BENCHMARK(BM_Rewrite100);

}  // namespace
