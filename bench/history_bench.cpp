// SPDX-License-Identifier: MIT
// The history file: what a report costs the worker (the queue only), how
// fast the writer empties it, and queries on a file of a million reports of
// a thousand stations over thirty days.
// Goals: <= 5 µs a report on the worker, >= 20,000 reports/s written, a
// station's 24-h track <= 10 ms, every track of 6 h <= 200 ms, <= 150 bytes
// a report on disk.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "bench/sample_table.h"
#include "history/history_store.h"
#include "history/tracks.h"

namespace {

using rigplot::HistoryDb;
using rigplot::HistoryOpen;
using rigplot::HistoryStore;
using rigplot::StationRecord;

constexpr std::int64_t kNow = 1796678625;

std::string ScratchDir() {
  char dir[] = "/tmp/rigplot-bench-XXXXXX";
  return mkdtemp(dir) == nullptr ? std::string() : std::string(dir);
}

StationRecord Record(int i) {
  StationRecord record;
  static_cast<rigplot::PendingReport&>(record) = rigplot::bench::SampleReport(i % 1000, kNow);
  return record;
}

// The worker's part: one report into the queue, the writer running behind;
// fewer reports than the queue holds, so none is dropped.
void BM_HistoryQueue(benchmark::State& state) {
  const std::string dir = ScratchDir();
  HistoryStore store({dir + "/h.sqlite", 0});
  std::string error;
  if (store.Open(error) != HistoryOpen::kOpened) {
    state.SkipWithError(error.c_str());
    return;
  }
  const StationRecord record = Record(7);
  for (auto _ : state) {
    error.clear();
    benchmark::DoNotOptimize(store.Queue(record, error));
  }
  store.Close();
  state.counters["dropped"] = static_cast<double>(store.dropped());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_HistoryQueue)->Iterations(HistoryStore::kQueueLimit / 2);

// The writer: 100,000 reports queued, then written and committed.
void BM_HistoryWriter(benchmark::State& state) {
  constexpr int kReports = 100000;
  std::vector<StationRecord> records;
  for (int i = 0; i < 1000; ++i) records.push_back(Record(i));
  for (auto _ : state) {
    const std::string dir = ScratchDir();
    HistoryStore store({dir + "/h.sqlite", 0});
    std::string error;
    if (store.Open(error) != HistoryOpen::kOpened) {
      state.SkipWithError(error.c_str());
      return;
    }
    for (int i = 0; i < kReports; ++i) store.Queue(records[i % 1000], error);
    store.Close();
    if (store.committed() != kReports) state.SkipWithError("reports lost");
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kReports);
}
BENCHMARK(BM_HistoryWriter)->Unit(benchmark::kMillisecond)->UseRealTime();

// A million reports of a thousand stations, one every 2.6 s, over 30 days.
class MillionReports {
 public:
  MillionReports() : m_dir(ScratchDir()) {
    std::string error;
    HistoryDb db;
    if (db.Open(m_dir + "/h.sqlite", false, error) != HistoryOpen::kOpened || !db.Begin(error)) {
      return;
    }
    constexpr int kReports = 1000000;
    constexpr std::int64_t kSpan = 30 * 86400;
    for (int i = 0; i < kReports; ++i) {
      StationRecord record = Record(i);
      record.receivedTime = kNow - kSpan + static_cast<std::int64_t>(i) * kSpan / kReports;
      if (!db.Insert(rigplot::RowFromRecord(record), error)) return;
    }
    rigplot::HistoryStats stats;
    if (db.Commit(error) && db.Stats(stats, error)) {
      bytesPerReport = static_cast<double>(stats.bytes) / kReports;
      ready = true;
    }
  }
  ~MillionReports() { std::filesystem::remove_all(m_dir); }
  std::string path() const { return m_dir + "/h.sqlite"; }

  bool ready = false;
  double bytesPerReport = 0;

 private:
  std::string m_dir;
};

const MillionReports& Million() {
  static MillionReports reports;
  return reports;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// One station's last 24 h as GPX, and all stations' last 6 h as GeoJSON, as
// the page asks for them.
void BM_HistoryTrack(benchmark::State& state, const std::string& query, bool gpx) {
  const MillionReports& million = Million();
  HistoryDb db;
  std::string error;
  if (!million.ready || db.Open(million.path(), true, error) != HistoryOpen::kOpened) {
    state.SkipWithError("no file of a million reports");
    return;
  }
  rigplot::TrackReply reply;
  for (auto _ : state) {
    reply = gpx ? rigplot::AnswerTrackGpx(db, query, kNow) : rigplot::AnswerTracks(db, query, kNow);
    benchmark::DoNotOptimize(reply.body.data());
  }
  if (reply.status != 200) state.SkipWithError(reply.body.c_str());
  state.counters["points"] = static_cast<double>(Count(reply.body, gpx ? "<trkpt " : "],["));
  state.counters["bytes_per_report"] = million.bytesPerReport;
}
BENCHMARK_CAPTURE(BM_HistoryTrack, Station24h,
                  "callsign=JA1500&since=" + rigplot::FormatIsoTime(kNow - 86400), true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HistoryTrack, All6h, std::string(), false)->Unit(benchmark::kMillisecond);

}  // namespace
