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

#include "stations/map_script_writer.h"
#include "stations/station_table.h"

namespace {

// A full table of plausible reports, moving and fixed, with short messages.
void FillTable(rigplot::StationTable& table) {
  std::scoped_lock lock(table.mutex());
  for (int i = 0; i < rigplot::StationTable::kSlots; ++i) {
    rigplot::PendingReport report;
    report.utcTime = "093015";
    report.latitude = "35/" + std::to_string(10 + i % 50) + ".1234";
    report.longitude = "139/" + std::to_string(10 + i % 40) + ".6789";
    report.speedKnots = std::to_string(i % 60) + ".5";
    report.course = std::to_string(i * 37 % 360) + ".0";
    report.utcDate = "051225";
    report.callsign = "JA" + std::to_string(1000 + i);
    report.repeater = "JR1WN A";
    report.symbol = std::to_string(i % 15);
    report.message = "QRV 145.00 73";
    std::strcpy(report.receivedAt, "25/12/05 18:30:15");
    table.StoreReport(report);
  }
}

void BM_Render100(benchmark::State& state) {
  rigplot::StationTable table;
  FillTable(table);
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
  FillTable(table);
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
