// The map script as the tests read it: cut into lines, checked whole, and
// masked where it changes from run to run (the theme line's time, every
// receivedAt and the file's own path), so that it compares with a kept copy.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "stations/map_script_writer.h"
#include "stations/station_table.h"

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
