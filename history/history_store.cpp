#include "history/history_store.h"

#include <charconv>
#include <chrono>
#include <ctime>

#include "stations/report_fields.h"
#include "stations/station_view.h"

namespace rigplot {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr auto kTransactionWork = std::chrono::milliseconds(500);

std::optional<double> ReadNumber(const char* text, std::size_t length) {
  double value = 0;
  if (length == 0 || std::from_chars(text, text + length, value).ec != std::errc()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

HistoryRow RowFromRecord(const StationRecord& station, const std::string& receiver) {
  StationView view;
  BuildStationView(view, station);
  return RowFromView(view, receiver);
}

HistoryRow RowFromView(const StationView& view, const std::string& receiver) {
  HistoryRow row;
  row.received = view.receivedTime == static_cast<std::time_t>(-1)
                     ? static_cast<std::int64_t>(std::time(nullptr))
                     : static_cast<std::int64_t>(view.receivedTime);
  row.callsign = view.callsign;
  row.repeater = view.repeater;
  row.symbol = view.symbol;
  char text[kFieldTextSize];
  // Through the printed figures, so that a report imported from the log
  // later is the same row.
  if (view.hasPosition) {
    row.latitude = ReadNumber(text, FormatDegrees(view.latitude, text));
    row.longitude = ReadNumber(text, FormatDegrees(view.longitude, text));
  }
  row.speedKmh = ReadNumber(text, FormatFiniteKmh(view.speedKmh, text));
  if (view.hasCourse) row.course = view.course;
  row.utcDate = view.utcDate;
  row.utcTime = view.utcTime;
  row.message = view.message;
  row.receiver = receiver;
  return row;
}

HistoryOpen HistoryStore::Open(std::string& error) {
  const HistoryOpen opened = m_db.Open(m_settings.path, false, error);
  if (opened != HistoryOpen::kOpened) return opened;
  m_stopping = false;
  m_writer = std::thread([this] { WriterLoop(); });
  return opened;
}

bool HistoryStore::Publish(const StationTable& table, int slot, std::string& osError) {
  return Queue(table.slot(slot), osError);
}

bool HistoryStore::Push(Queued report, std::string& osError) {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_queue.size() >= kQueueLimit) {
      m_dropped.fetch_add(1);
      osError = "the history file is not written fast enough; reports are dropped";
      return false;
    }
    m_queue.push_back(std::move(report));
    if (m_failing.load()) osError = m_failure;
  }
  m_wake.notify_one();
  return osError.empty();
}

void HistoryStore::Close() {
  {
    std::lock_guard<std::mutex> lock(m_lock);
    m_stopping = true;
  }
  m_wake.notify_one();
  if (m_writer.joinable()) m_writer.join();
  m_db.Checkpoint();
  m_db.Close();
}

void HistoryStore::Prune(std::int64_t now) {
  if (m_settings.days <= 0) return;
  std::int64_t deleted = 0;
  std::string error;
  m_db.Prune(now - m_settings.days * kDay, deleted, error);
}

void HistoryStore::WriterLoop() {
  std::int64_t nextPrune = m_settings.now();
  Prune(nextPrune);
  nextPrune += kDay;
  std::vector<Queued> batch;
  HistoryRow decoded;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_lock);
      m_wake.wait_for(lock, std::chrono::hours(1),
                      [this] { return m_stopping || !m_queue.empty(); });
      if (m_queue.empty() && m_stopping) return;
      batch.swap(m_queue);
    }
    // Before the batch: once its reports are committed, a prune that was due is done.
    if (const std::int64_t now = m_settings.now(); now >= nextPrune) {
      Prune(now);
      nextPrune = now + kDay;
    }
    // A quiet hour tells nothing new about the disk.
    if (batch.empty()) continue;
    std::string error;
    std::size_t written = 0;
    while (written < batch.size() && error.empty()) {
      if (!m_db.Begin(error)) break;
      const auto started = std::chrono::steady_clock::now();
      std::size_t done = written;
      // Check the clock every few rows: a transaction holds at most about
      // half a second of reports, so a kill loses no more than that.
      while (done < batch.size() &&
             ((done - written) % 64 != 0 ||
              std::chrono::steady_clock::now() - started < kTransactionWork)) {
        const HistoryRow* row = std::get_if<HistoryRow>(&batch[done]);
        if (row == nullptr) {
          decoded = RowFromRecord(std::get<StationRecord>(batch[done]));
          row = &decoded;
        }
        if (!m_db.Insert(*row, error)) break;
        ++done;
      }
      if (!error.empty()) {
        m_db.Rollback();
        break;
      }
      if (!m_db.Commit(error)) break;
      m_committed.fetch_add(done - written);
      written = done;
    }
    if (!error.empty()) m_dropped.fetch_add(batch.size() - written);
    // The link names the output (the path) in front of it.
    if (error.rfind(m_settings.path + ": ", 0) == 0) error.erase(0, m_settings.path.size() + 2);
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_failure = error;
      m_failing.store(!error.empty());
    }
    batch.clear();
  }
}

}  // namespace rigplot
