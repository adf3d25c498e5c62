// SPDX-License-Identifier: MIT
// The history file: every stored report as one row of an SQLite database.
//
//   report(id, received, callsign, repeater, symbol, latitude, longitude,
//          speed_kmh, course, utc_date, utc_time, message, receiver)
//
// `received` is the time of reception in Unix seconds (UTC); texts are UTF-8;
// a position, speed or course that does not read is NULL; `receiver` is empty
// for reports heard here. The schema's version is PRAGMA user_version; a file
// of a newer version, one that is not SQLite, one that fails SQLite's quick
// check or one holding other tables is refused and never written to.
//
// Owns: one connection and its prepared statements (move-only).
// Thread: one at a time; the writer and the readers each open their own
// connection, which WAL lets read while another writes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace rigplot {

struct HistoryRow {
  std::int64_t received = 0;  // Unix seconds, UTC
  std::string callsign;
  std::string repeater;
  std::string symbol;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::optional<double> speedKmh;
  std::optional<double> course;
  std::string utcDate;  // ddmmyy as received
  std::string utcTime;  // hhmmss as received
  std::string message;
  std::string receiver;  // empty: heard here

  friend bool operator==(const HistoryRow&, const HistoryRow&) = default;
};

// How opening went: a file that cannot be opened or made (no such folder,
// no permission) is unavailable; one that must not be touched is refused.
enum class HistoryOpen { kOpened, kUnavailable, kRefused };

struct HistoryStats {
  std::int64_t reports = 0;
  std::int64_t stations = 0;
  std::int64_t days = 0;  // distinct UTC days with reports
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t bytes = 0;  // the database's pages, WAL not counted
};

class HistoryDb {
 public:
  static constexpr int kSchemaVersion = 1;

  HistoryDb() = default;
  ~HistoryDb();
  HistoryDb(HistoryDb&& other) noexcept;
  HistoryDb& operator=(HistoryDb&& other) noexcept;
  HistoryDb(const HistoryDb&) = delete;
  HistoryDb& operator=(const HistoryDb&) = delete;

  // Opens `path`, making it (and the schema) unless `readOnly`. `error` says
  // why it failed, the file's name first.
  HistoryOpen Open(const std::string& path, bool readOnly, std::string& error);
  void Close();
  bool isOpen() const { return m_db != nullptr; }

  // Copies what the write-ahead log holds into the file itself, waiting for
  // no reader, so that the file alone is whole even when another connection
  // (the page's) outlives this one and keeps the log.
  void Checkpoint();

  bool Begin(std::string& error);
  bool Commit(std::string& error);
  void Rollback();

  bool Insert(const HistoryRow& row, std::string& error);
  // Inserts unless a report equal in every column is there already (a
  // station repeating itself within a second differs in its GPS time);
  // `added` says which.
  bool InsertIfNew(const HistoryRow& row, bool& added, std::string& error);
  // Deletes reports received before `before`.
  bool Prune(std::int64_t before, std::int64_t& deleted, std::string& error);

  // The reports from `since` to `until` (both included) in order of
  // reception, of one station or of all when `callsign` is empty, grouped by
  // station. `strideBefore`/`stride` thin the old ones: before that time only
  // rows whose id is a multiple of `stride` are read.
  bool ForEachReport(std::string_view callsign, std::int64_t since, std::int64_t until,
                     std::int64_t strideBefore, std::int64_t stride,
                     const std::function<void(const HistoryRow&)>& visit, std::string& error);
  // How many reports those are, and the time of the `newest`-th newest.
  bool CountReports(std::string_view callsign, std::int64_t since, std::int64_t until,
                    std::int64_t newest, std::int64_t& count, std::int64_t& newestFrom,
                    std::string& error);

  bool Stats(HistoryStats& stats, std::string& error);
  // PRAGMA integrity_check's answer ("ok" when sound).
  std::string IntegrityCheck();

 private:
  bool Prepare(sqlite3_stmt*& statement, const char* sql, std::string& error);
  std::string Error(std::string_view what) const;

  sqlite3* m_db = nullptr;
  std::string m_path;
  sqlite3_stmt* m_insert = nullptr;
  sqlite3_stmt* m_exists = nullptr;
};

}  // namespace rigplot
