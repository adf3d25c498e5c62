// SPDX-License-Identifier: MIT
// The history file: reports kept with every field, files it must not touch,
// retention, the page's track answers, the GPX against its schema, the log
// import, and a writer killed in the middle of a burst.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "history/history_store.h"
#include "history/log_import.h"
#include "history/tracks.h"
#include "stations/report_log.h"
#include "tests/support/cp932.h"
#include "tests/support/files.h"
#include "tests/support/stations.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::TempDir;

std::string Text(const std::optional<double>& value) {
  return value ? std::to_string(*value) : "NULL";
}

}  // namespace

// Whole rows in a failure message.
void PrintTo(const HistoryRow& row, std::ostream* out) {
  *out << row.received << " " << row.callsign << "|" << row.repeater << "|" << row.symbol << " "
       << Text(row.latitude) << " " << Text(row.longitude) << " " << Text(row.speedKmh) << " "
       << Text(row.course) << " " << row.utcDate << " " << row.utcTime << " " << row.message << "|"
       << row.receiver;
}

namespace {

std::vector<HistoryRow> AllRows(HistoryDb& db) {
  std::vector<HistoryRow> rows;
  std::string error;
  EXPECT_TRUE(db.ForEachReport(
      "", 0, INT64_MAX, 0, 1, [&](const HistoryRow& row) { rows.push_back(row); }, error))
      << error;
  return rows;
}

HistoryDb OpenDb(const std::string& path, bool readOnly = false) {
  HistoryDb db;
  std::string error;
  EXPECT_EQ(db.Open(path, readOnly, error), HistoryOpen::kOpened) << error;
  return db;
}

HistoryRow Point(const char* callsign, std::int64_t received, double latitude, double longitude,
                 const char* message = "") {
  HistoryRow row;
  row.received = received;
  row.callsign = callsign;
  row.latitude = latitude;
  row.longitude = longitude;
  row.message = message;
  return row;
}

void Insert(HistoryDb& db, const std::vector<HistoryRow>& rows) {
  std::string error;
  ASSERT_TRUE(db.Begin(error)) << error;
  for (const HistoryRow& row : rows) ASSERT_TRUE(db.Insert(row, error)) << error;
  ASSERT_TRUE(db.Commit(error)) << error;
}

// Reports through the table and the store as the worker hands them over;
// the same reports in the report log, imported twice into a second file.
TEST(HistoryStore, KeepsEveryFieldAndTheLogImportsToTheSameRowsOnce) {
  TempDir dir;
  PendingReport full = test::Station("JA1ABC", "/>", "90.5", "10");
  full.receivedTime = 1765272615;  // 2025-12-09T09:30:15Z
  PendingReport hostile = test::Station("JA2\"Q,", "=1", "", "");
  hostile.message = test::ToCp932("=cmd|\"位置\",x");
  hostile.receivedTime = 1765272616;
  PendingReport nowhere = test::Station("JA3XYZ", "0", "400", "inf");
  nowhere.latitude = "";
  nowhere.receivedTime = 1765272617;
  PendingReport edge = test::Station("JA4W", "0", "0", "0");
  edge.latitude = "-89/59.9999";
  edge.longitude = "180/00.0000";
  edge.receivedTime = 1765272618;
  // The same station, place and second again: only its GPS time differs.
  PendingReport repeated = full;
  repeated.utcTime = "093016";
  const std::vector<PendingReport> reports{full, hostile, nowhere, edge, repeated};

  HistoryStore store({dir / "live.sqlite", 0});
  ReportLog log(dir / "logs");
  std::string error;
  ASSERT_EQ(store.Open(error), HistoryOpen::kOpened) << error;
  StationTable table;
  for (const PendingReport& report : reports) {
    std::scoped_lock lock(table.mutex());
    const int slot = table.StoreReport(report);
    ASSERT_TRUE(store.Publish(table, slot, error)) << error;
    ASSERT_TRUE(log.Publish(table, slot, error)) << error;
  }
  store.Close();
  log.Close();
  EXPECT_EQ(store.committed(), 5u);

  HistoryDb live = OpenDb(dir / "live.sqlite", true);
  const std::vector<HistoryRow> rows = AllRows(live);
  ASSERT_EQ(rows.size(), 5u);
  HistoryRow expected;
  expected.received = 1765272615;
  expected.callsign = "JA1ABC";
  expected.repeater = "JR1WN A";
  expected.symbol = "/>";
  expected.latitude = 35.652057;
  expected.longitude = 139.761315;
  expected.speedKmh = 18.52;
  expected.course = 90.5;
  expected.utcDate = "051225";
  expected.utcTime = "093015";
  expected.message = "Hello";
  EXPECT_EQ(rows[0], expected);
  expected.utcTime = "093016";
  EXPECT_EQ(rows[1], expected);
  EXPECT_EQ(rows[2].callsign, "JA2\"Q,");
  EXPECT_EQ(rows[2].message, "=cmd|\"位置\",x");
  EXPECT_FALSE(rows[2].course);  // an empty speed reads 0, as in every other format
  EXPECT_FALSE(rows[3].latitude || rows[3].longitude || rows[3].speedKmh);
  EXPECT_EQ(rows[3].course, 400.0);
  EXPECT_EQ(rows[4].latitude, -89.999998);
  EXPECT_EQ(rows[4].longitude, 180.0);

  // The day's log, and this file's own CSV export, read back as the same
  // rows; a second import adds nothing.
  HistoryDb imported = OpenDb(dir / "imported.sqlite");
  for (int round = 0; round < 2; ++round) {
    ImportCounts counts;
    ASSERT_TRUE(ImportLogDir(imported, dir / "logs", counts, error)) << error;
    EXPECT_EQ(counts.files, 1);
    EXPECT_EQ(counts.added, round == 0 ? 5 : 0);
    EXPECT_EQ(counts.present, round == 0 ? 0 : 5);
  }
  EXPECT_EQ(AllRows(imported), rows);
  std::string csv;
  TrackQuery all;
  all.callsign = "JA2\"Q,";
  ASSERT_TRUE(RenderTrackCsv(live, all, csv, error)) << error;
  HistoryDb again = OpenDb(dir / "again.sqlite");
  ImportCounts counts;
  ASSERT_TRUE(ImportCsv(again, csv, counts, error)) << error;
  EXPECT_EQ(AllRows(again), std::vector<HistoryRow>{rows[2]});
}

TEST(HistoryDb, RefusesFilesItDoesNotKnowAndLeavesThemAsTheyAre) {
  TempDir dir;
  {
    HistoryDb db = OpenDb(dir / "newer.sqlite");
    Insert(db, {Point("JA1ABC", 1, 35, 139)});
  }
  {
    HistoryDb db = OpenDb(dir / "damaged.sqlite");
    std::vector<HistoryRow> rows(2000, Point("JA1ABC", 1, 35, 139, "a message of some length"));
    Insert(db, rows);
  }
  ASSERT_EQ(
      std::system(
          ("sqlite3 '" + dir / "damaged.sqlite" + "' 'PRAGMA wal_checkpoint(TRUNCATE)'").c_str()),
      0);
  std::string damaged = test::ReadWholeFile(dir / "damaged.sqlite");
  ASSERT_GT(damaged.size(), 40000u);
  std::fill(damaged.begin() + 20000, damaged.begin() + 30000, '\xff');
  test::WriteWholeFile(dir / "damaged.sqlite", damaged);
  ASSERT_EQ(std::system(("sqlite3 '" + dir / "newer.sqlite" + "' 'PRAGMA user_version=2'").c_str()),
            0);
  ASSERT_EQ(std::system(("sqlite3 '" + dir / "other.sqlite" + "' 'CREATE TABLE t(x)'").c_str()), 0);
  test::WriteWholeFile(dir / "garbage.sqlite", std::string(4096, 'x'));
  const struct {
    const char* legend;
    const char* file;
    HistoryOpen result;
    const char* says;
  } cases[] = {
      {"a newer schema", "newer.sqlite", HistoryOpen::kRefused, "newer version (schema 2"},
      {"not SQLite", "garbage.sqlite", HistoryOpen::kRefused, "not a history file"},
      {"damaged pages", "damaged.sqlite", HistoryOpen::kRefused, "damaged ("},
      {"another program's tables", "other.sqlite", HistoryOpen::kRefused, "other tables"},
      {"a folder that is not there", "none/h.sqlite", HistoryOpen::kUnavailable, "cannot open"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    const std::string before = test::ReadWholeFile(dir / c.file);
    HistoryStore store({dir / c.file, 30});
    std::string error;
    EXPECT_EQ(store.Open(error), c.result);
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(test::ReadWholeFile(dir / c.file), before);
  }
}

// On the store's own clock: EDGE is within two days at start and out of
// them an hour later, but the next prune is due only a day after the first.
TEST(HistoryStore, DeletesReportsOlderThanItsDaysAtStartAndOnceADay) {
  constexpr std::int64_t kStart = 1800000000;
  constexpr std::int64_t kDay = 86400;
  for (const int days : {0, 2}) {
    SCOPED_TRACE(days);
    TempDir dir;
    {
      HistoryDb db = OpenDb(dir / "h.sqlite");
      Insert(db, {Point("OLD", kStart - 3 * kDay, 35, 139),
                  Point("EDGE", kStart - 2 * kDay + 60, 35, 139),
                  Point("NEW", kStart - kDay + 60, 35, 139)});
    }
    std::atomic<std::int64_t> clock{kStart};
    HistorySettings settings{dir / "h.sqlite", days};
    settings.now = [&clock] { return clock.load(); };
    HistoryStore store(settings);
    std::string error;
    ASSERT_EQ(store.Open(error), HistoryOpen::kOpened) << error;
    StationRecord record;
    static_cast<PendingReport&>(record) = test::Station("JA1ABC", "0", "90", "10");
    // The stations left once a report queued at `now` is committed: a prune
    // due then comes before it.
    const auto stationsAt = [&](std::int64_t now) {
      clock = now;
      record.receivedTime = now;
      const std::uint64_t before = store.committed();
      EXPECT_TRUE(store.Queue(record, error)) << error;
      EXPECT_TRUE(test::WaitUntil([&] { return store.committed() > before; }));
      HistoryDb db = OpenDb(dir / "h.sqlite", true);
      std::string callsigns;
      for (const HistoryRow& row : AllRows(db)) callsigns += row.callsign + " ";
      return callsigns;
    };
    const bool all = days == 0;
    EXPECT_EQ(stationsAt(kStart), all ? "EDGE JA1ABC NEW OLD " : "EDGE JA1ABC NEW ");
    EXPECT_EQ(stationsAt(kStart + 3600),
              all ? "EDGE JA1ABC JA1ABC NEW OLD " : "EDGE JA1ABC JA1ABC NEW ");
    EXPECT_EQ(stationsAt(kStart + kDay),
              all ? "EDGE JA1ABC JA1ABC JA1ABC NEW OLD " : "JA1ABC JA1ABC JA1ABC NEW ");
  }
}

TEST(HistoryTracks, ReadsIsoTimesAndNothingElse) {
  const struct {
    const char* text;
    std::int64_t seconds;  // -1: refused
  } rows[] = {
      {"2025-12-09T09:30:15Z", 1765272615},
      {"2025-12-09T18:30:15+09:00", 1765272615},
      {"2025-12-09T04:30:15-05:00", 1765272615},
      {"2025-12-09", 1765238400},
      {"2025-12-09T09:30:15", 1765272615},  // no zone: UTC
      {"1970-01-01T00:00:00Z", 0},
      {"99999-01-01", -1},
      {"1969-12-31T23:59:59Z", -1},
      {"2025-13-01", -1},
      {"2025-12-09T24:00:00Z", -1},
      {"2025-12-09T09:30:15+9", -1},
      {"2025-12-09T09:30:15Z'; DROP TABLE report;--", -1},
      {"", -1},
  };
  for (const auto& row : rows) {
    std::int64_t seconds = -1;
    EXPECT_EQ(ParseIsoTime(row.text, seconds) ? seconds : -1, row.seconds) << row.text;
  }
  EXPECT_EQ(FormatIsoTime(1765272615), "2025-12-09T09:30:15Z");
}

TEST(HistoryTracks, AnswersBadQueriesWith400AndUnknownStationsWithNothing) {
  TempDir dir;
  HistoryDb db = OpenDb(dir / "h.sqlite");
  const std::int64_t now = 1765272615;
  Insert(db,
         {Point("JA1ABC", now - 60, 35, 139, "<&\"x\x01"), Point("JA1ABC", now - 30, 35.1, 179.5),
          Point("JA1ABC", now, -35.5, 180), Point("JA2DEF", now - 10, 36, 140)});
  HistoryRow relayed = Point("JA2DEF", now - 5, 36.1, 140);
  relayed.receiver = "JP1YKR";
  Insert(db, {relayed});
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "callsign=A&";
  const struct {
    const char* legend;
    bool gpx;
    std::string query;
    int status;
    int stations;  // LineStrings or trkseg points in a 200
  } cases[] = {
      {"all, default since", false, "", 200, 2},
      {"one station", false, "callsign=JA2DEF", 200, 1},
      {"escaped and with an offset", false, "since=2025-12-09T18%3A29%3A00+09:00&callsign=JA1ABC",
       200, 1},
      {"since after everything", false, "since=2030-01-01", 200, 0},
      {"unknown callsign", false, "callsign=NOBODY", 200, 0},
      {"SQL as callsign", false, "callsign='%20OR%201", 200, 0},
      {"SQL as time", false, "since=1'%20OR%20'1'='1", 400, 0},
      {"huge since", false, "since=999999999999-01-01", 400, 0},
      {"long callsign", false, "callsign=JA1ABC'%3B%20DROP%20TABLE%20report", 400, 0},
      {"ten thousand parameters", false, many, 400, 0},
      {"repeated", false, "callsign=A&callsign=B", 400, 0},
      {"unknown", false, "until=2025-01-01", 400, 0},
      {"no value", false, "since", 400, 0},
      {"bad escape", false, "callsign=%G1", 400, 0},
      {"GPX of one station", true, "callsign=JA1ABC&since=2025-12-09", 200, 3},
      {"GPX without a callsign", true, "since=2025-12-09", 400, 0},
      {"GPX of nobody", true, "callsign=NOBODY", 200, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    const TrackReply reply =
        c.gpx ? AnswerTrackGpx(db, c.query, now) : AnswerTracks(db, c.query, now);
    EXPECT_EQ(reply.status, c.status) << reply.body;
    if (c.status == 400) {
      EXPECT_EQ(std::count(reply.body.begin(), reply.body.end(), '\n'), 1) << reply.body;
      EXPECT_LT(reply.body.size(), 200u);
    } else {
      EXPECT_EQ(test::CountOf(reply.body, c.gpx ? "<trkpt " : "\"LineString\""), c.stations)
          << reply.body;
    }
  }
  EXPECT_EQ(AllRows(db).size(), 5u);
  EXPECT_NE(AnswerTracks(db, "callsign=JA2DEF", now).body.find(R"("receivers":["","JP1YKR"])"),
            std::string::npos);

  // The GPX against the GPX 1.1 schema, markup and a control byte in a
  // comment and a longitude of 180 among its points.
  const TrackReply gpx = AnswerTrackGpx(db, "callsign=JA1ABC&since=2025-12-01", now);
  test::WriteWholeFile(dir / "t.gpx", gpx.body);
  const std::string check = "xmllint --noout --schema '" RIGPLOT_TEST_DATA
                            "/history/gpx-1.1.xsd' '" +
                            dir / "t.gpx" + "' 2>'" + dir / "xmllint.txt" + "'";
  EXPECT_EQ(std::system(check.c_str()), 0) << test::ReadWholeFile(dir / "xmllint.txt") << gpx.body;
  EXPECT_NE(gpx.body.find("lon=\"-180.000000\""), std::string::npos) << gpx.body;
}

TEST(HistoryTracks, ThinsTheOldestPointsBeyondTheLimit) {
  TempDir dir;
  HistoryDb db = OpenDb(dir / "h.sqlite");
  std::vector<HistoryRow> rows;
  const std::int64_t start = 1765200000;
  for (int i = 0; i < 8000; ++i) {
    for (const char* callsign : {"A", "B", "C"})
      rows.push_back(Point(callsign, start + i, 35, 139));
  }
  Insert(db, rows);
  TrackQuery query;
  std::string out;
  std::string error;
  ASSERT_TRUE(RenderTracksGeoJson(db, query, out, error)) << error;
  EXPECT_EQ(test::CountOf(out, "\"LineString\""), 3);
  std::int64_t points = 0;
  for (auto at = out.find("\"points\":"); at != std::string::npos;
       at = out.find("\"points\":", at + 1)) {
    points += std::atoll(out.c_str() + at + 9);
  }
  EXPECT_LE(points, kMaxTrackPoints);
  EXPECT_GT(points, kMaxTrackPoints * 9 / 10);
  // The newest report of every station is kept.
  EXPECT_EQ(test::CountOf(out, "\"last\":\"" + FormatIsoTime(start + 7999) + "\""), 3)
      << out.substr(0, 300);
}

// A writer killed while it writes: the file opens, holds at least every
// report committed before the kill, and checks sound.
TEST(HistoryStore, AKillInABurstLosesOnlyWhatWasNotCommitted) {
  TempDir dir;
  const std::string path = dir / "h.sqlite";
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe[0]);
    HistoryStore store({path, 0});
    std::string error;
    if (store.Open(error) != HistoryOpen::kOpened) ::_exit(3);
    StationRecord record;
    static_cast<PendingReport&>(record) = test::Station("JA1ABC", "0", "90", "10");
    record.receivedTime = std::time(nullptr);
    for (std::uint64_t i = 0;; ++i) {
      record.callsign = "S" + std::to_string(i % 1000);
      // One in ten as a hub queues it: decoded already, with its receiver.
      const bool queued = i % 10 == 0 ? store.Queue(RowFromRecord(record, "JP1YKR"), error)
                                      : store.Queue(record, error);
      if (!queued) ::usleep(1000);
      if (i % 256 == 0) {
        const std::uint64_t committed = store.committed();
        if (::write(pipe[1], &committed, sizeof committed) != sizeof committed) ::_exit(4);
      }
    }
  }
  ::close(pipe[1]);
  std::uint64_t committed = 0;
  std::uint64_t reported = 0;
  while (committed < 20000 && ::read(pipe[0], &reported, sizeof reported) == sizeof reported) {
    committed = reported;
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  while (::read(pipe[0], &reported, sizeof reported) == sizeof reported) committed = reported;
  ::close(pipe[0]);
  ASSERT_GE(committed, 20000u);
  HistoryDb db = OpenDb(path, true);
  HistoryStats stats;
  std::string error;
  ASSERT_TRUE(db.Stats(stats, error)) << error;
  EXPECT_GE(static_cast<std::uint64_t>(stats.reports), committed);
  EXPECT_EQ(db.IntegrityCheck(), "ok");
  const std::vector<HistoryRow> rows = AllRows(db);
  const auto relayed = std::count_if(
      rows.begin(), rows.end(), [](const HistoryRow& row) { return row.receiver == "JP1YKR"; });
  EXPECT_GT(relayed, 0);
  EXPECT_LT(relayed, static_cast<long>(rows.size()));
}

// A disk that fills up, played by a limit on the file size in a child
// process: Publish answers false with the reason while writes fail, never
// waits, and answers true again once there is room; the file stays sound.
TEST(HistoryStore, AFullDiskIsReportedUntilThereIsRoomAgain) {
  TempDir dir;
  const std::string path = dir / "h.sqlite";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, RLIM_INFINITY};
    HistoryStore store({path, 0});
    std::string error;
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || store.Open(error) != HistoryOpen::kOpened) {
      ::_exit(10);
    }
    StationRecord record;
    static_cast<PendingReport&>(record) = test::Station("JA1ABC", "0", "90", "10");
    const auto publishFails = [&] {
      error.clear();
      ::usleep(1000);
      // SQLite's words for the error: "disk I/O error" here, "database or
      // disk is full" on a full disk.
      return !store.Queue(record, error) && error.rfind("cannot write: ", 0) == 0;
    };
    if (!test::WaitUntil(publishFails)) ::_exit(11);
    limit.rlim_cur = RLIM_INFINITY;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto publishWorks = [&] {
      error.clear();
      ::usleep(1000);
      return store.Queue(record, error) && error.empty();
    };
    if (!test::WaitUntil(publishWorks)) ::_exit(12);
    store.Close();
    if (store.dropped() == 0) ::_exit(13);
    HistoryDb db;
    if (db.Open(path, true, error) != HistoryOpen::kOpened || db.IntegrityCheck() != "ok")
      ::_exit(14);
    ::_exit(0);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: no start, 11: no failure said, 12: no recovery, "
                                       "13: nothing dropped, 14: file not sound";
}

}  // namespace
}  // namespace rigplot
