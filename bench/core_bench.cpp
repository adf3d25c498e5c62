// SPDX-License-Identifier: MIT
// Parser throughput and table updates, over the captured test streams.
#include <benchmark/benchmark.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "report/report_parser.h"
#include "stations/station_table.h"

namespace rigplot {
namespace {

// A captured stream repeated to 1 MiB, so that one pass outlasts the caches' warm-up.
std::string LoadStream(const char* name) {
  std::ifstream in(std::string(RIGPLOT_BENCH_DATA "/streams/") + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string one = s.str();
  std::string many;
  while (!one.empty() && many.size() < (1u << 20)) many += one;
  return many;
}

// "mixed": reports with a few errors between them; "noisy": more than half of
// it other sentences, bad checksums, cut lines and binary junk.
void BM_ParserByteAtATime(benchmark::State& state, const char* name) {
  const std::string stream = LoadStream(name);
  ReportParser parser;
  std::size_t reports = 0;
  for (auto _ : state) {
    for (char c : stream) reports += parser.feedByte(static_cast<std::uint8_t>(c));
  }
  benchmark::DoNotOptimize(reports);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.counters["reports"] =
      static_cast<double>(reports) / static_cast<double>(state.iterations());
}
BENCHMARK_CAPTURE(BM_ParserByteAtATime, mixed, "mixed.nmea")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParserByteAtATime, noisy, "noisy.nmea")->Unit(benchmark::kMillisecond);

void BM_ParserBlock(benchmark::State& state, const char* name) {
  const std::string stream = LoadStream(name);
  const auto* const data = reinterpret_cast<const std::uint8_t*>(stream.data());
  ReportParser parser;
  std::size_t reports = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.size();) {
      const ReportParser::FeedResult r = parser.feed(data + at, stream.size() - at);
      at += r.consumed;
      reports += r.completed;
    }
  }
  benchmark::DoNotOptimize(reports);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.counters["reports"] =
      static_cast<double>(reports) / static_cast<double>(state.iterations());
}
BENCHMARK_CAPTURE(BM_ParserBlock, mixed, "mixed.nmea")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ParserBlock, noisy, "noisy.nmea")->Unit(benchmark::kMillisecond);

PendingReport Sample(int station) {
  PendingReport r;
  r.callsign = "JA" + std::to_string(1000 + station);
  r.utcTime = "012345";
  r.latitude = "35/39.1234";
  r.longitude = "139/45.6789";
  r.speedKnots = "012.5";
  r.course = "270.0";
  r.utcDate = "071226";
  r.repeater = "JR1WN  B";
  r.symbol = "0";
  r.message = "Mobile on the road";
  return r;
}

void BM_StoreReportFullTable(benchmark::State& state) {
  StationTable table;
  std::scoped_lock lock(table.mutex());
  std::vector<PendingReport> reports;
  for (int i = 0; i < StationTable::kSlots; ++i) reports.push_back(Sample(i));
  for (const auto& r : reports) table.StoreReport(r);
  std::size_t i = 0;
  for (auto _ : state) {
    table.StoreReport(reports[i]);  // known stations, the whole key range
    i = (i + 37) % reports.size();
  }
  benchmark::DoNotOptimize(table.count());
}
BENCHMARK(BM_StoreReportFullTable);

void BM_StoreReportEvicting(benchmark::State& state) {
  StationTable table;
  std::scoped_lock lock(table.mutex());
  std::vector<PendingReport> reports;
  for (int i = 0; i < 2 * StationTable::kSlots; ++i) reports.push_back(Sample(i));
  std::size_t i = 0;
  for (auto _ : state) {
    table.StoreReport(reports[i]);  // every store misses and evicts the oldest
    i = (i + 1) % reports.size();
  }
  benchmark::DoNotOptimize(table.count());
}
BENCHMARK(BM_StoreReportEvicting);

}  // namespace
}  // namespace rigplot
