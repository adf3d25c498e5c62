// SPDX-License-Identifier: MIT
// rigplot-history: the history file from the command line.
//
//   rigplot-history [--file PATH] import LOGDIR
//   rigplot-history [--file PATH] export --callsign CALL [--since T] [--until T] --format
//   gpx|geojson|csv rigplot-history [--file PATH] stats
//
// Exit status: 0 done, 1 the file or folder could not be used, 2 a wrong
// command line.
#include <cstdio>
#include <string>
#include <vector>

#include "history/history_db.h"
#include "history/log_import.h"
#include "history/tracks.h"

#ifndef RIGPLOT_VERSION
#define RIGPLOT_VERSION "unknown"
#endif

namespace {

using namespace rigplot;

constexpr const char* kDefaultFile = "/var/lib/rigplot/history.sqlite";

constexpr const char* kUsage =
    "Usage: rigplot-history [--file PATH] COMMAND\n"
    "\n"
    "Commands:\n"
    "  import LOGDIR     read the report logs LOGDIR/rigplot-*.csv into the file;\n"
    "                    reports already there are not added again\n"
    "  export --callsign CALL [--since T] [--until T] --format gpx|geojson|csv\n"
    "                    one station's reports on stdout; T is ISO 8601\n"
    "                    (2026-12-09, 2026-12-09T06:00:00Z, ...+09:00)\n"
    "  stats             reports, stations, days and size of the file\n"
    "\n"
    "Options:\n"
    "  --file PATH       the history file (default /var/lib/rigplot/history.sqlite)\n"
    "  --help            show this text and exit\n"
    "  --version         show the version and exit\n";

int Usage(const std::string& error) {
  std::fprintf(stderr, "rigplot-history: %s\n\n%s", error.c_str(), kUsage);
  return 2;
}

int Failed(const std::string& error) {
  std::fprintf(stderr, "rigplot-history: %s\n", error.c_str());
  return 1;
}

int Import(const std::string& file, const std::string& dir) {
  HistoryDb db;
  std::string error;
  if (db.Open(file, false, error) != HistoryOpen::kOpened) return Failed(error);
  ImportCounts counts;
  const bool done = ImportLogDir(db, dir, counts, error);
  std::printf("%lld files, %lld reports added, %lld already there, %lld lines skipped\n",
              static_cast<long long>(counts.files), static_cast<long long>(counts.added),
              static_cast<long long>(counts.present), static_cast<long long>(counts.skipped));
  return done ? 0 : Failed(error);
}

int Export(const std::string& file, const std::vector<std::string>& args) {
  TrackQuery query;
  query.maxPoints = INT64_MAX;  // an export is whole
  std::string format;
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage("option '" + args[i] + "' needs a value");
    const std::string& value = args[i + 1];
    if (args[i] == "--callsign") {
      query.callsign = value;
    } else if (args[i] == "--since" || args[i] == "--until") {
      if (!ParseIsoTime(value, args[i] == "--since" ? query.since : query.until)) {
        return Usage(args[i] + " takes an ISO 8601 time, not '" + value + "'");
      }
    } else if (args[i] == "--format") {
      format = value;
    } else {
      return Usage("unknown option '" + args[i] + "'");
    }
  }
  if (query.callsign.empty()) return Usage("export needs --callsign");
  if (format != "gpx" && format != "geojson" && format != "csv") {
    return Usage("export needs --format gpx, geojson or csv");
  }
  HistoryDb db;
  std::string error;
  if (db.Open(file, true, error) != HistoryOpen::kOpened) return Failed(error);
  std::string out;
  const bool done = format == "gpx"       ? RenderTrackGpx(db, query, out, error)
                    : format == "geojson" ? RenderTracksGeoJson(db, query, out, error)
                                          : RenderTrackCsv(db, query, out, error);
  if (!done) return Failed(error);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
    return Failed("cannot write the export");
  }
  return 0;
}

int Stats(const std::string& file) {
  HistoryDb db;
  std::string error;
  HistoryStats stats;
  if (db.Open(file, true, error) != HistoryOpen::kOpened || !db.Stats(stats, error)) {
    return Failed(error);
  }
  std::printf("reports  %lld\nstations %lld\ndays     %lld\n",
              static_cast<long long>(stats.reports), static_cast<long long>(stats.stations),
              static_cast<long long>(stats.days));
  if (stats.reports > 0) {
    std::printf("first    %s\nlast     %s\n", FormatIsoTime(stats.first).c_str(),
                FormatIsoTime(stats.last).c_str());
  }
  std::printf("size     %lld bytes\n", static_cast<long long>(stats.bytes));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string file = kDefaultFile;
  std::size_t at = 0;
  while (at < args.size() && args[at].rfind("--", 0) == 0) {
    if (args[at] == "--help" || args[at] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (args[at] == "--version") {
      std::puts("rigplot-history " RIGPLOT_VERSION);
      return 0;
    }
    if (args[at] != "--file") return Usage("unknown option '" + args[at] + "'");
    if (at + 1 >= args.size()) return Usage("option '--file' needs a value");
    file = args[at + 1];
    at += 2;
  }
  if (at >= args.size()) return Usage("no command");
  const std::string command = args[at];
  const std::vector<std::string> rest(args.begin() + static_cast<long>(at) + 1, args.end());
  if (command == "import") {
    if (rest.size() != 1) return Usage("import takes one log folder");
    return Import(file, rest[0]);
  }
  if (command == "export") return Export(file, rest);
  if (command == "stats") {
    if (!rest.empty()) return Usage("stats takes nothing more");
    return Stats(file);
  }
  return Usage("unknown command '" + command + "'");
}
