// SPDX-License-Identifier: MIT
// Captured sessions: the bytes a radio sent, each with the map script they
// must produce (tests/data/sessions/NAME.nmea and NAME.mps, kept masked; see
// map_script.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_parser.h"
#include "stations/station_table.h"
#include "tests/support/files.h"
#include "tests/support/map_script.h"
#include "tests/support/nmea.h"

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

struct Replayed {
  std::string map;  // masked
  std::uint64_t reports = 0;
};

// The worker's work, without a port: the bytes in reads of the given sizes
// (taken round and round), each read fed whole through the block entry as the
// worker does, every completed report stored, and the map script of the final
// table.
inline Replayed ReplaySession(std::string_view bytes, const std::vector<std::size_t>& reads) {
  ReportParser parser(&FixedClock);
  StationTable table;
  Replayed result;
  {
    std::scoped_lock lock(table.mutex());
    for (std::size_t at = 0, read = 0; at < bytes.size(); ++read) {
      const std::string_view block = bytes.substr(at, reads[read % reads.size()]);
      const auto* data = reinterpret_cast<const std::uint8_t*>(block.data());
      for (std::size_t i = 0; i < block.size();) {
        const ReportParser::FeedResult fed = parser.feed(data + i, block.size() - i);
        i += fed.consumed;
        if (!fed.completed) continue;
        table.StoreReport(parser.report());
        ++result.reports;
      }
      at += block.size();
    }
  }
  result.map = MaskedMapScript(table);
  return result;
}

}  // namespace rigplot::test
