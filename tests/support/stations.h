// SPDX-License-Identifier: MIT
// Station reports for the table and map script tests: a report with every
// field filled, and a store under the table's lock.
#pragma once

#include <cstring>
#include <mutex>
#include <string>

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

inline void Clear(StationTable& table) {
  std::scoped_lock lock(table.mutex());
  table.Clear();
}

// Step i of a table that swings between 100 stations (even i) and one (odd
// i), so that two map scripts mixed, or one cut short, show in the count.
inline void SwingTable(StationTable& table, int i) {
  if (i % 2 == 0) {
    for (int s = 0; s < 99; ++s) {
      Store(table, Station(("S" + std::to_string(s)).c_str(), "0", "90", "1"));
    }
  } else {
    Clear(table);
    Store(table, Station("JA1ABC", "0", "90", "10"));
  }
}

}  // namespace rigplot::test
