// SPDX-License-Identifier: MIT
// The history store: the station output that keeps every stored report in
// the history file.
//
// Publish copies the report into a bounded queue and returns; a thread of
// the store's own writes the queue in transactions of at most half a second
// of work, so the worker never waits on the disk. A full queue drops reports
// (counted); a write that fails (disk full, read-only folder) makes Publish
// answer false with the reason until a later write succeeds, so the link says
// it once and goes on. Reports older than the retention are deleted when the
// writer starts and once a day after, by the settings' clock.
//
// Owns: the writer thread and its connection to the file.
// Thread: Open and Close on the front end's; Publish on the worker's, with
// the table's lock held; Queue of a row on a hub's connection thread;
// committed() from any.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "history/history_db.h"
#include "stations/station_output.h"

namespace rigplot {

struct StationView;

struct HistorySettings {
  std::string path;  // the history file, UTF-8
  int days = 30;     // reports kept; 0 keeps them all
  // Unix seconds the retention is counted by; called on the writer thread.
  std::function<std::int64_t()> now = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
};

// The row of a decoded report, figures as the open formats print them (six
// decimals for degrees); the time of reception, or now when it is unknown.
HistoryRow RowFromView(const StationView& view, const std::string& receiver = "");
// The same for a slot's record, its texts read from code page 932 into UTF-8.
HistoryRow RowFromRecord(const StationRecord& station, const std::string& receiver = "");

class HistoryStore : public StationOutput {
 public:
  static constexpr std::size_t kQueueLimit = 100000;

  explicit HistoryStore(HistorySettings settings) : m_settings(std::move(settings)) {}
  ~HistoryStore() override { Close(); }
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  // Opens (or makes) the file and starts the writer.
  HistoryOpen Open(std::string& error);

  std::string name() const override { return m_settings.path; }
  bool Publish(const StationTable& table, int slot, std::string& osError) override;
  // Queues one report; what Publish does with the slot's record, decoded
  // later on the writer thread.
  bool Queue(const StationRecord& station, std::string& osError) { return Push(station, osError); }
  // Queues a report decoded already: a hub's, with the receiver that heard it.
  bool Queue(HistoryRow row, std::string& osError) { return Push(std::move(row), osError); }
  // Writes what is queued, then ends the writer; the file is then whole by
  // itself, whoever still reads it.
  void Close() override;

  // Reports written and committed so far, and reports dropped.
  std::uint64_t committed() const { return m_committed.load(); }
  std::uint64_t dropped() const { return m_dropped.load(); }

 private:
  using Queued = std::variant<StationRecord, HistoryRow>;

  bool Push(Queued report, std::string& osError);
  void WriterLoop();
  void Prune(std::int64_t now);

  HistorySettings m_settings;
  HistoryDb m_db;  // the writer's
  std::thread m_writer;

  std::mutex m_lock;  // guards the members below it
  std::condition_variable m_wake;
  std::vector<Queued> m_queue;
  bool m_stopping = false;
  std::string m_failure;  // the last write's error, empty when it went through

  std::atomic<bool> m_failing{false};
  std::atomic<std::uint64_t> m_committed{0};
  std::atomic<std::uint64_t> m_dropped{0};
};

}  // namespace rigplot
