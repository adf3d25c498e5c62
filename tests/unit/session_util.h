// Captured sessions: the bytes a radio sent, each with the map script they
// must produce (tests/data/sessions/NAME.nmea and NAME.mps). The map script
// is kept masked: the theme line's time, every receivedAt and the file's own
// path change from run to run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_parser.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"
#include "tests/unit/nmea_test_util.h"
#include "tests/unit/pty_test_util.h"

namespace rigplot::test {

struct Session {
  std::string name;
  std::string bytes;
  std::string expectedPath;  // the .mps beside it
};

inline std::vector<Session> LoadSessions() {
  std::vector<Session> sessions;
  for (const auto& entry : std::filesystem::directory_iterator(RIGPLOT_TEST_DATA "/sessions")) {
    if (entry.path().extension() != ".nmea") continue;
    std::filesystem::path expected = entry.path();
    expected.replace_extension(".mps");
    sessions.push_back(
        {entry.path().stem().string(), ReadWholeFile(entry.path().string()), expected.string()});
  }
  std::sort(sessions.begin(), sessions.end(),
            [](const Session& a, const Session& b) { return a.name < b.name; });
  return sessions;
}

// Replaces text[from, up to `until`) with `mask`, for every `after` found.
inline void MaskBetween(std::string& text, std::string_view after, std::string_view until,
                        std::string_view mask) {
  for (std::size_t at = text.find(after); at != std::string::npos; at = text.find(after, at)) {
    at += after.size();
    const std::size_t end = text.find(until, at);
    if (end == std::string::npos) return;
    text.replace(at, end - at, mask);
    at += mask.size();
  }
}

inline std::string MaskMapScript(std::string map) {
  // theme str="D-STAR位置情報 (20yy年mm月dd日 hh時mm分ss秒更新)";
  const std::size_t theme = map.find("theme str=\"");
  const std::size_t themeEnd = map.find("\r\n", theme);
  if (theme != std::string::npos && themeEnd != std::string::npos) {
    std::replace_if(
        map.begin() + static_cast<std::ptrdiff_t>(theme),
        map.begin() + static_cast<std::ptrdiff_t>(themeEnd),
        [](char c) { return c >= '0' && c <= '9'; }, '#');
  }
  MaskBetween(map, "addon url=\"file://", "\" title=", "$TEMP/0.mps");
  MaskBetween(map, "\x8e\xf3\x90\x4d\x93\xfa\x8e\x9e:  ", "JST\\n", "yy/mm/dd hh:mm:ss");
  return map;
}

// The first line where two map scripts differ, for a readable failure.
inline std::string FirstDifference(const std::string& got, const std::string& want) {
  std::size_t line = 1, start = 0;
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (got[i] != want[i]) break;
    if (got[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  if (got == want) return "";
  auto lineAt = [start](const std::string& text) {
    return text.substr(start, text.find('\n', start) - start);
  };
  return "line " + std::to_string(line) + ":\n  got:  " + lineAt(got) + "\n  want: " + lineAt(want);
}

// The table's map script as the worker would write it, masked.
inline std::string MaskedMapScript(const StationTable& table) {
  std::tm now{};
  now.tm_year = 126;
  std::string map;
  MapScriptWriter::Render(map, "/tmp/0.mps", table, now);
  return MaskMapScript(std::move(map));
}

struct Replayed {
  std::string map;  // masked
  std::uint64_t reports = 0;
};

// The worker's work, without a port: the bytes in reads of the given sizes
// (taken round and round), every completed report stored, and the map script
// of the final table.
inline Replayed ReplaySession(std::string_view bytes, const std::vector<std::size_t>& reads) {
  ReportParser parser(&FixedClock);
  StationTable table;
  std::scoped_lock lock(table.mutex());
  Replayed result;
  for (std::size_t at = 0, read = 0; at < bytes.size(); ++read) {
    const std::string_view block = bytes.substr(at, reads[read % reads.size()]);
    for (char c : block) {
      if (!parser.feedByte(static_cast<std::uint8_t>(c))) continue;
      table.StoreReport(parser.report());
      ++result.reports;
    }
    at += block.size();
  }
  result.map = MaskedMapScript(table);
  return result;
}

}  // namespace rigplot::test
