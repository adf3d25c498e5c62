// Helpers for the map script tests: a station with every field filled, a
// store under the table's lock, and a file cut into its lines.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "report/report_parser.h"
#include "stations/station_table.h"

namespace rigplot::test {

inline PendingReport Station(const char* callsign, const char* symbol, const char* course,
                             const char* speed) {
  PendingReport report;
  report.utcTime = "093015";
  report.latitude = "35/39.1234";
  report.longitude = "139/45.6789";
  report.speedKnots = speed;
  report.course = course;
  report.utcDate = "051225";
  report.callsign = callsign;
  report.repeater = "JR1WN A";
  report.symbol = symbol;
  report.message = "Hello";
  std::strcpy(report.receivedAt, "25/12/05 18:30:15");
  return report;
}

inline void Store(StationTable& table, const PendingReport& report) {
  std::scoped_lock lock(table.mutex());
  table.StoreReport(report);
}

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

}  // namespace rigplot::test
