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

#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/map_script_writer.h"
#include "stations/report_log.h"
#include "stations/station_table.h"

namespace {

// A report as a full table holds them: a few texts in Japanese, the rest ASCII.
rigplot::PendingReport Report(int i, std::time_t now) {
  rigplot::PendingReport report;
  report.utcTime = "093015";
  report.latitude = "35/" + std::to_string(10 + i % 50) + ".1234";
  report.longitude = "139/" + std::to_string(10 + i % 40) + ".6789";
  report.speedKnots = std::to_string(i % 60) + ".5";
  report.course = std::to_string(i * 37 % 360) + ".0";
  report.utcDate = "051225";
  report.callsign = "JA" + std::to_string(1000 + i);
  report.repeater = i % 4 == 0 ? "\xb1\xb7\xca\xde\xd7 A" : "JR1WN A";  // half-width kana
  report.symbol = std::to_string(i % 15);
  report.message = "QRV 145.00 73";
  std::strcpy(report.receivedAt, "25/12/05 18:30:15");
  report.receivedTime = now - i;
  return report;
}

void BM_RenderGeoJson100(benchmark::State& state) {
  rigplot::StationTable table;
  std::scoped_lock lock(table.mutex());
  for (int i = 0; i < rigplot::StationTable::kSlots; ++i) table.StoreReport(Report(i, 1796678625));
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
  std::scoped_lock lock(table.mutex());
  for (int i = 0; i < rigplot::StationTable::kSlots; ++i) table.StoreReport(Report(i, 1796678625));
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
  std::scoped_lock lock(table.mutex());
  for (int i = 0; i < rigplot::StationTable::kSlots; ++i) table.StoreReport(Report(i, now));
  rigplot::MapScriptWriter map;
  rigplot::GeoJsonFileOutput geojson(base + "/stations.geojson");
  rigplot::KmlFileOutput kml(base + "/stations.kml");
  rigplot::ReportLog log(base + "/log");
  rigplot::StationOutput* outputs[] = {&geojson, &kml, &log};
  std::string error;
  int i = 0;
  for (auto _ : state) {
    const int slot = table.StoreReport(Report(i++ % rigplot::StationTable::kSlots, now));
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
