// SPDX-License-Identifier: MIT
// The map script as the tests read it: cut into lines, checked whole, and
// masked where it changes from run to run (the theme line's time, every
// receivedAt and the file's own path), so that it compares with a kept copy.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "report/local_time.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"
#include "tests/support/files.h"
#include "tests/support/stations.h"

namespace rigplot::test {

// Line i of a file, without its CR LF; every line must end in CR LF.
inline std::vector<std::string> Lines(const std::string& file) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < file.size()) {
    const std::size_t end = file.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "last line has no CR LF";
      break;
    }
    lines.push_back(file.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// What a reader may see at any moment: a header, the 95 group lines, the
// stations the count line announces and the closing lines, every line ended
// by CR LF. A file written halfway, or two files mixed, fails.
inline bool IsWholeMapScript(const std::string& file) {
  const std::string_view end = "mapserver end;\r\n";
  const std::size_t count = file.rfind("message str=\" ");
  if (count == std::string::npos || !file.ends_with(end)) return false;
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = file.find('\n', at)) != std::string::npos; ++at) {
    if (at == 0 || file[at - 1] != '\r') return false;
    ++lines;
  }
  return lines == 101u + std::strtoul(file.c_str() + count + 14, nullptr, 10);
}

// True when `file` is what Render makes of the table at some second from
// `before` to `after`, local time: the theme line carries the time.
inline bool RenderedWithin(const StationTable& table, const std::string& path, std::time_t before,
                           std::time_t after, const std::string& file) {
  for (std::time_t t = before; t <= after; ++t) {
    std::tm local{};
    if (!ToLocalTime(t, local)) continue;
    std::string expected;
    std::scoped_lock lock(table.mutex());
    MapScriptWriter::Render(expected, path, table, local);
    if (expected == file) return true;
  }
  return false;
}

// Reads a map script over and over on a thread of its own, as a viewer
// would, and keeps the first read that was not a whole file.
class MapScriptReader {
 public:
  explicit MapScriptReader(std::function<std::string()> read)
      : m_thread([this, read = std::move(read)] {
          while (!m_stop.load()) {
            const std::string file = read();
            if (!IsWholeMapScript(file)) {
              m_firstBad = file.empty() ? "(missing)" : file;
              m_failed = true;
              return;
            }
            ++m_reads;
          }
        }) {}
  ~MapScriptReader() { Stop(); }
  MapScriptReader(const MapScriptReader&) = delete;
  MapScriptReader& operator=(const MapScriptReader&) = delete;

  // Ends the reads; firstBad() may be read from then on.
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  bool failed() const { return m_failed.load(); }
  int reads() const { return m_reads.load(); }
  const std::string& firstBad() const { return m_firstBad; }

 private:
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_failed{false};
  std::atomic<int> m_reads{0};
  std::string m_firstBad;
  std::thread m_thread;  // last: it starts once the rest is there
};

// Where the tests of the file on disk start, on either OS: a scratch
// directory, the map script's path in it, a table holding one station and a
// writer.
class MapScriptFileTest : public ::testing::Test {
 protected:
  void SetUp() override { Store(m_table, Station("JA1ABC", "0", "90", "10")); }
  TempDir m_dir;
  const std::string m_path = m_dir / "0.mps";
  StationTable m_table;
  MapScriptWriter m_writer;
};

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

// The first line where two map scripts differ, for a readable failure; empty
// when they are the same.
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
  std::scoped_lock lock(table.mutex());
  MapScriptWriter::Render(map, "/tmp/0.mps", table, now);
  return MaskMapScript(std::move(map));
}

}  // namespace rigplot::test
