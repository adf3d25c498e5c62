// Station reports for the table and map script tests: a report with every
// field filled, and a store under the table's lock.
#pragma once

#include <cstring>
#include <mutex>

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

}  // namespace rigplot::test
