// SPDX-License-Identifier: MIT
// Every report rewrites the map script, the GeoJSON and the KML and appends
// one log line, all with the table locked. The four together must stay
// within 300 µs for a full table.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>

#include "bench/sample_table.h"
#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/map_script_writer.h"
#include "stations/report_log.h"
#include "stations/station_table.h"

namespace {

using rigplot::bench::FillTable;
using rigplot::bench::SampleReport;

// A fixed clock reading, so that every run renders the same texts.
constexpr std::time_t kNow = 1796678625;

void BM_RenderGeoJson100(benchmark::State& state) {
  rigplot::StationTable table;
  FillTable(table, kNow);
  std::scoped_lock lock(table.mutex());
  std::string out;
  for (auto _ : state) {
    rigplot::RenderGeoJson(out, table);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_RenderGeoJson100);

void BM_RenderKml100(benchmark::State& state) {
  rigplot::StationTable table;
  FillTable(table, kNow);
  std::scoped_lock lock(table.mutex());
  std::string out;
  for (auto _ : state) {
    rigplot::RenderKml(out, table);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_RenderKml100);

// One report into a full table, then all four files on /tmp, as the link does.
void BM_AllFourFiles100(benchmark::State& state) {
  char dir[] = "/tmp/rigplot-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no scratch directory");
    return;
  }
  const std::string base = dir;
  const std::time_t now = std::time(nullptr);
  rigplot::StationTable table;
  FillTable(table, now);
  std::scoped_lock lock(table.mutex());
  rigplot::MapScriptWriter map;
  rigplot::GeoJsonFileOutput geojson(base + "/stations.geojson");
  rigplot::KmlFileOutput kml(base + "/stations.kml");
  rigplot::ReportLog log(base + "/log");
  rigplot::StationOutput* outputs[] = {&geojson, &kml, &log};
  std::string error;
  int i = 0;
  for (auto _ : state) {
    const int slot = table.StoreReport(SampleReport(i++ % rigplot::StationTable::kSlots, now));
    bool written = map.Write(base + "/0.mps", table);
    for (rigplot::StationOutput* output : outputs) {
      written = output->Publish(table, slot, error) && written;
    }
    if (!written) {
      state.SkipWithError("a file could not be written");
      break;
    }
  }
  for (rigplot::StationOutput* output : outputs) output->Close();
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
}
BENCHMARK(BM_AllFourFiles100)->UseRealTime();

}  // namespace
