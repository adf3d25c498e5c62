// SPDX-License-Identifier: MIT
// Helpers for tests that need well-formed radio text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "report/report_parser.h"

namespace rigplot::test {

// "$" + body + "*" + the two-digit XOR checksum, no line end.
inline std::string Sentence(std::string_view body) {
  std::uint8_t sum = 0;
  for (char c : body) sum ^= static_cast<std::uint8_t>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return "$" + std::string(body) + tail;
}

inline constexpr char kBody1[] = "GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A";

// A whole report: sentence, CR LF, callsign line, CR LF.
inline std::string Report(std::string_view body, std::string_view callsignLine) {
  return Sentence(body) + "\r\n" + std::string(callsignLine) + "\r\n";
}

// Feeds the bytes and returns a copy of every report completed on the way.
inline std::vector<PendingReport> FeedAll(ReportParser& parser, std::string_view bytes) {
  std::vector<PendingReport> done;
  for (char c : bytes) {
    if (parser.feedByte(static_cast<std::uint8_t>(c))) done.push_back(parser.report());
  }
  return done;
}

// A clock that always reads the same second, for reports that compare whole.
inline bool FixedClock(std::time_t* now) {
  *now = 1796678625;  // 2026-12-07 21:23:45 UTC
  return true;
}

}  // namespace rigplot::test
