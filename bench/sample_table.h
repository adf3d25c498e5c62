// SPDX-License-Identifier: MIT
// A full table of plausible reports for the benchmarks: moving and fixed
// stations, short messages, a few texts in half-width kana.
#pragma once

#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "stations/station_table.h"

namespace rigplot::bench {

// Station i, heard i seconds before `now`.
inline PendingReport SampleReport(int i, std::time_t now) {
  PendingReport report;
  report.utcTime = "093015";
  report.latitude = "35/" + std::to_string(10 + i % 50) + ".1234";
  report.longitude = "139/" + std::to_string(10 + i % 40) + ".6789";
  report.speedKnots = std::to_string(i % 60) + ".5";
  report.course = std::to_string(i * 37 % 360) + ".0";
  report.utcDate = "051225";
  report.callsign = "JA" + std::to_string(1000 + i);
  report.repeater = i % 4 == 0 ? "\xb1\xb7\xca\xde\xd7 A" : "JR1WN A";
  report.symbol = std::to_string(i % 15);
  report.message = "QRV 145.00 73";
  std::strcpy(report.receivedAt, "25/12/05 18:30:15");
  report.receivedTime = now - i;
  return report;
}

inline void FillTable(StationTable& table, std::time_t now) {
  std::scoped_lock lock(table.mutex());
  for (int i = 0; i < StationTable::kSlots; ++i) table.StoreReport(SampleReport(i, now));
}

}  // namespace rigplot::bench
