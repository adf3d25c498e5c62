#include "history/history_db.h"

#include <sqlite3.h>

#include <filesystem>
#include <utility>

namespace rigplot {
namespace {

// Step n takes a file of version n to version n + 1, in one transaction.
constexpr const char* kMigrations[] = {
    "CREATE TABLE report("
    "id INTEGER PRIMARY KEY,"
    "received INTEGER NOT NULL,"
    "callsign TEXT NOT NULL,"
    "repeater TEXT NOT NULL,"
    "symbol TEXT NOT NULL,"
    "latitude REAL,"
    "longitude REAL,"
    "speed_kmh REAL,"
    "course REAL,"
    "utc_date TEXT NOT NULL,"
    "utc_time TEXT NOT NULL,"
    "message TEXT NOT NULL,"
    "receiver TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX report_by_station ON report(callsign, received);"
    "CREATE INDEX report_by_time ON report(received);",
};
static_assert(std::size(kMigrations) == HistoryDb::kSchemaVersion);

constexpr const char* kColumns =
    "received,callsign,repeater,symbol,latitude,longitude,speed_kmh,course,utc_date,utc_time,"
    "message,receiver";

// The row as parameters ?1 to ?12, in the order of kColumns.
void BindRow(sqlite3_stmt* statement, const HistoryRow& row) {
  auto text = [statement](int index, const std::string& value) {
    sqlite3_bind_text(statement, index, value.data(), static_cast<int>(value.size()),
                      SQLITE_STATIC);
  };
  auto number = [statement](int index, const std::optional<double>& value) {
    if (value) {
      sqlite3_bind_double(statement, index, *value);
    } else {
      sqlite3_bind_null(statement, index);
    }
  };
  sqlite3_bind_int64(statement, 1, row.received);
  text(2, row.callsign);
  text(3, row.repeater);
  text(4, row.symbol);
  number(5, row.latitude);
  number(6, row.longitude);
  number(7, row.speedKmh);
  number(8, row.course);
  text(9, row.utcDate);
  text(10, row.utcTime);
  text(11, row.message);
  text(12, row.receiver);
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return text == nullptr ? std::string()
                         : std::string(text, sqlite3_column_bytes(statement, column));
}

std::optional<double> ColumnNumber(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(statement, column);
}

void ReadRow(sqlite3_stmt* statement, HistoryRow& row) {
  row.received = sqlite3_column_int64(statement, 0);
  row.callsign = ColumnText(statement, 1);
  row.repeater = ColumnText(statement, 2);
  row.symbol = ColumnText(statement, 3);
  row.latitude = ColumnNumber(statement, 4);
  row.longitude = ColumnNumber(statement, 5);
  row.speedKmh = ColumnNumber(statement, 6);
  row.course = ColumnNumber(statement, 7);
  row.utcDate = ColumnText(statement, 8);
  row.utcTime = ColumnText(statement, 9);
  row.message = ColumnText(statement, 10);
  row.receiver = ColumnText(statement, 11);
}

// Finalizes on scope exit.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

}  // namespace

HistoryDb::~HistoryDb() {
  Close();
}

HistoryDb::HistoryDb(HistoryDb&& other) noexcept {
  *this = std::move(other);
}

HistoryDb& HistoryDb::operator=(HistoryDb&& other) noexcept {
  if (this != &other) {
    Close();
    m_db = std::exchange(other.m_db, nullptr);
    m_path = std::move(other.m_path);
    m_insert = std::exchange(other.m_insert, nullptr);
    m_exists = std::exchange(other.m_exists, nullptr);
  }
  return *this;
}

void HistoryDb::Close() {
  sqlite3_finalize(m_insert);
  sqlite3_finalize(m_exists);
  m_insert = m_exists = nullptr;
  if (m_db != nullptr) sqlite3_close_v2(m_db);
  m_db = nullptr;
}

void HistoryDb::Checkpoint() {
  if (m_db != nullptr) {
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }
}

std::string HistoryDb::Error(std::string_view what) const {
  std::string text = m_path + ": " + std::string(what);
  if (m_db != nullptr) text += std::string(": ") + sqlite3_errmsg(m_db);
  return text;
}

bool HistoryDb::Prepare(sqlite3_stmt*& statement, const char* sql, std::string& error) {
  if (statement != nullptr) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return true;
  }
  if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) ==
      SQLITE_OK) {
    return true;
  }
  error = Error("cannot read");
  return false;
}

HistoryOpen HistoryDb::Open(const std::string& path, bool readOnly, std::string& error) {
  Close();
  m_path = path;
  std::error_code ec;
  // The path is UTF-8 on every system; a narrow path would be read in the
  // Windows code page.
  const std::filesystem::path file(std::u8string(path.begin(), path.end()));
  if (readOnly && !std::filesystem::exists(file, ec)) {
    error = path + ": no such file";
    return HistoryOpen::kUnavailable;
  }
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
    error = Error("cannot open");
    Close();
    return HistoryOpen::kUnavailable;
  }
  sqlite3_extended_result_codes(m_db, 1);
  sqlite3_busy_timeout(m_db, 5000);
  // The version is read before anything is written, so that a file this
  // program does not know is left exactly as it was.
  int version = -1;
  int tables = 0;
  {
    Statement read;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &read.handle, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(read.handle);
    if (rc == SQLITE_ROW) version = sqlite3_column_int(read.handle, 0);
    const int primary = rc & 0xff;
    if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) {
      error = Error("not a history file, left as it is");
      Close();
      return HistoryOpen::kRefused;
    }
    if (version < 0) {
      error = Error("cannot open");
      Close();
      return HistoryOpen::kUnavailable;
    }
  }
  if (version > kSchemaVersion) {
    error = m_path + ": written by a newer version (schema " + std::to_string(version) +
            ", this one knows " + std::to_string(kSchemaVersion) + "), left as it is";
    Close();
    return HistoryOpen::kRefused;
  }
  if (version == 0) {
    Statement count;
    if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master", -1, &count.handle,
                           nullptr) != SQLITE_OK ||
        sqlite3_step(count.handle) != SQLITE_ROW) {
      error = Error("not a history file, left as it is");
      Close();
      return HistoryOpen::kRefused;
    }
    tables = sqlite3_column_int(count.handle, 0);
    if (tables > 0) {
      error = m_path + ": holds other tables, not a history file, left as it is";
      Close();
      return HistoryOpen::kRefused;
    }
  }
  // A damaged file is refused before anything is written to it; the quick
  // check reads every page once (a third of a second for a million reports).
  if (version > 0 && !readOnly) {
    Statement check;
    const int rc = sqlite3_prepare_v2(m_db, "PRAGMA quick_check(1)", -1, &check.handle, nullptr);
    const bool read = rc == SQLITE_OK && sqlite3_step(check.handle) == SQLITE_ROW;
    const std::string answer = read ? ColumnText(check.handle, 0) : sqlite3_errmsg(m_db);
    if (answer != "ok") {
      error = m_path + ": damaged (" + answer + "), left as it is";
      Close();
      return HistoryOpen::kRefused;
    }
  }
  if (readOnly) {
    if (version == 0) {
      error = m_path + ": empty, no history yet";
      Close();
      return HistoryOpen::kUnavailable;
    }
    return HistoryOpen::kOpened;
  }
  // NORMAL in WAL mode: a commit survives the process being killed; only a
  // power cut can take the last transactions.
  char* message = nullptr;
  if (sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                   &message) != SQLITE_OK) {
    sqlite3_free(message);
    error = Error("cannot write");
    Close();
    return HistoryOpen::kUnavailable;
  }
  for (int from = version; from < kSchemaVersion; ++from) {
    const std::string step = std::string("BEGIN IMMEDIATE;") + kMigrations[from] +
                             "PRAGMA user_version=" + std::to_string(from + 1) + ";COMMIT;";
    if (sqlite3_exec(m_db, step.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      sqlite3_free(message);
      error = Error("cannot set up");
      Rollback();
      Close();
      return HistoryOpen::kUnavailable;
    }
  }
  return HistoryOpen::kOpened;
}

bool HistoryDb::Begin(std::string& error) {
  if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  error = Error("cannot write");
  return false;
}

bool HistoryDb::Commit(std::string& error) {
  if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  error = Error("cannot write");
  Rollback();
  return false;
}

void HistoryDb::Rollback() {
  if (m_db != nullptr && !sqlite3_get_autocommit(m_db)) {
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

bool HistoryDb::Insert(const HistoryRow& row, std::string& error) {
  static const std::string sql = std::string("INSERT INTO report(") + kColumns +
                                 ") VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12)";
  if (!Prepare(m_insert, sql.c_str(), error)) return false;
  BindRow(m_insert, row);
  const int rc = sqlite3_step(m_insert);
  sqlite3_reset(m_insert);
  if (rc == SQLITE_DONE) return true;
  error = Error("cannot write");
  return false;
}

bool HistoryDb::InsertIfNew(const HistoryRow& row, bool& added, std::string& error) {
  added = false;
  if (!Prepare(m_exists,
               "SELECT 1 FROM report WHERE callsign=?2 AND received=?1 AND receiver=?12 AND "
               "repeater=?3 AND symbol=?4 AND latitude IS ?5 AND longitude IS ?6 AND "
               "speed_kmh IS ?7 AND course IS ?8 AND utc_date=?9 AND utc_time=?10 AND "
               "message=?11 LIMIT 1",
               error)) {
    return false;
  }
  BindRow(m_exists, row);
  const int rc = sqlite3_step(m_exists);
  sqlite3_reset(m_exists);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    error = Error("cannot read");
    return false;
  }
  added = Insert(row, error);
  return added;
}

bool HistoryDb::Prune(std::int64_t before, std::int64_t& deleted, std::string& error) {
  Statement prune;
  if (sqlite3_prepare_v2(m_db, "DELETE FROM report WHERE received < ?1", -1, &prune.handle,
                         nullptr) != SQLITE_OK) {
    error = Error("cannot prune");
    return false;
  }
  sqlite3_bind_int64(prune.handle, 1, before);
  if (sqlite3_step(prune.handle) != SQLITE_DONE) {
    error = Error("cannot prune");
    return false;
  }
  deleted = sqlite3_changes64(m_db);
  return true;
}

bool HistoryDb::ForEachReport(std::string_view callsign, std::int64_t since, std::int64_t until,
                              std::int64_t strideBefore, std::int64_t stride,
                              const std::function<void(const HistoryRow&)>& visit,
                              std::string& error) {
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM report WHERE received BETWEEN ?1 AND ?2" +
                          (callsign.empty() ? "" : " AND callsign = ?3") +
                          " AND (received >= ?4 OR id % ?5 = 0) ORDER BY callsign, received, id";
  Statement query;
  if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &query.handle, nullptr) != SQLITE_OK) {
    error = Error("cannot read");
    return false;
  }
  sqlite3_bind_int64(query.handle, 1, since);
  sqlite3_bind_int64(query.handle, 2, until);
  if (!callsign.empty()) {
    sqlite3_bind_text(query.handle, 3, callsign.data(), static_cast<int>(callsign.size()),
                      SQLITE_STATIC);
  }
  sqlite3_bind_int64(query.handle, 4, strideBefore);
  sqlite3_bind_int64(query.handle, 5, stride < 1 ? 1 : stride);
  HistoryRow row;
  int rc;
  while ((rc = sqlite3_step(query.handle)) == SQLITE_ROW) {
    ReadRow(query.handle, row);
    visit(row);
  }
  if (rc == SQLITE_DONE) return true;
  error = Error("cannot read");
  return false;
}

bool HistoryDb::CountReports(std::string_view callsign, std::int64_t since, std::int64_t until,
                             std::int64_t newest, std::int64_t& count, std::int64_t& newestFrom,
                             std::string& error) {
  const std::string where = std::string(" FROM report WHERE received BETWEEN ?1 AND ?2") +
                            (callsign.empty() ? "" : " AND callsign = ?3");
  Statement counting;
  Statement nth;
  const std::string nthSql =
      "SELECT received" + where + " ORDER BY received DESC LIMIT 1 OFFSET ?4";
  if (sqlite3_prepare_v2(m_db, ("SELECT count(*)" + where).c_str(), -1, &counting.handle,
                         nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(m_db, nthSql.c_str(), -1, &nth.handle, nullptr) != SQLITE_OK) {
    error = Error("cannot read");
    return false;
  }
  for (sqlite3_stmt* statement : {counting.handle, nth.handle}) {
    sqlite3_bind_int64(statement, 1, since);
    sqlite3_bind_int64(statement, 2, until);
    if (!callsign.empty()) {
      sqlite3_bind_text(statement, 3, callsign.data(), static_cast<int>(callsign.size()),
                        SQLITE_STATIC);
    }
  }
  sqlite3_bind_int64(nth.handle, 4, newest > 0 ? newest - 1 : 0);
  if (sqlite3_step(counting.handle) != SQLITE_ROW) {
    error = Error("cannot read");
    return false;
  }
  count = sqlite3_column_int64(counting.handle, 0);
  const int rc = sqlite3_step(nth.handle);
  newestFrom = rc == SQLITE_ROW ? sqlite3_column_int64(nth.handle, 0) : since;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return true;
  error = Error("cannot read");
  return false;
}

bool HistoryDb::Stats(HistoryStats& stats, std::string& error) {
  Statement query;
  if (sqlite3_prepare_v2(m_db,
                         "SELECT count(*), count(DISTINCT callsign), count(DISTINCT received / "
                         "86400), coalesce(min(received), 0), coalesce(max(received), 0), "
                         "(SELECT page_count * page_size FROM pragma_page_count(), "
                         "pragma_page_size()) FROM report",
                         -1, &query.handle, nullptr) != SQLITE_OK ||
      sqlite3_step(query.handle) != SQLITE_ROW) {
    error = Error("cannot read");
    return false;
  }
  stats.reports = sqlite3_column_int64(query.handle, 0);
  stats.stations = sqlite3_column_int64(query.handle, 1);
  stats.days = sqlite3_column_int64(query.handle, 2);
  stats.first = sqlite3_column_int64(query.handle, 3);
  stats.last = sqlite3_column_int64(query.handle, 4);
  stats.bytes = sqlite3_column_int64(query.handle, 5);
  return true;
}

std::string HistoryDb::IntegrityCheck() {
  Statement check;
  if (sqlite3_prepare_v2(m_db, "PRAGMA integrity_check", -1, &check.handle, nullptr) != SQLITE_OK ||
      sqlite3_step(check.handle) != SQLITE_ROW) {
    return sqlite3_errmsg(m_db);
  }
  return ColumnText(check.handle, 0);
}

}  // namespace rigplot
