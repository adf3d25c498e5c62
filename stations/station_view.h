// SPDX-License-Identifier: MIT
// One stored report decoded for the open formats (GeoJSON, KML, the report
// log, the live page): read from the radio's texts once, formatted by every
// output from here. The map script keeps its own byte-exact path from the
// raw slot.
//
// Invariants: texts are valid UTF-8, read from code page 932 as received
// (no escaping: each format escapes its own); a value that does not read
// is marked absent, never guessed.
// Thread: built and read under the table's lock (StationTable::view).
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

#include "stations/icon_groups.h"
#include "stations/report_fields.h"
#include "stations/station_table.h"

namespace rigplot {

struct StationView {
  // Decimal degrees, south and west negative; when both coordinates read.
  bool hasPosition = false;
  double latitude = 0;
  double longitude = 0;
  // Degrees as received; when the course reads as a number.
  bool hasCourse = false;
  double course = 0;
  // Knots times 1.852 in single precision, as the map script shows it; may
  // be infinite or NaN.
  float speedKmh = 0;
  int headingClass = 0;
  std::string gid;                   // from the symbol, so a text from the air too
  const IconGroup* group = nullptr;  // the catalogue's entry for gid, if any
  std::string_view groupName;        // its name in UTF-8; empty without one
  std::time_t receivedTime = -1;
  std::string receivedIso;  // ISO 8601 local time with offset; empty when unknown
  // The radio's texts in UTF-8.
  std::string callsign;
  std::string repeater;
  std::string symbol;
  std::string message;
  std::string utcDate;     // ddmmyy
  std::string utcTime;     // hhmmss
  std::string courseText;  // the course as received
  std::string receivedAt;  // local "yy/mm/dd hh:mm:ss", as the map script shows it
  std::string dataTime;    // "yy/mm/dd hh:mm:ss" from utcDate and utcTime, "-" where short
};

// Reads `station` into `view`, reusing its strings' room.
void BuildStationView(StationView& view, const StationRecord& station);

// The speed as JSON and CSV carry it ("%.2f"); 0 when not finite.
std::size_t FormatFiniteKmh(float kmh, char (&text)[kFieldTextSize]);

}  // namespace rigplot
