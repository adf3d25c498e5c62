// SPDX-License-Identifier: MIT
// A stored report's fields read as values, shared by the map script and the
// open formats so that every file shows a station the same way.
// Thread: pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <ctime>
#include <string_view>

#include "stations/station_table.h"

namespace rigplot {

// Room for any text made below.
inline constexpr std::size_t kFieldTextSize = 64;

// Reads the number at the start of a text as sscanf "%f" does: blanks, a sign,
// a decimal or "inf"/"nan"; correctly rounded to single precision, infinity on
// overflow, zero on underflow. A text that starts with no number reads as 0.
float ReadFloatField(std::string_view text);

// Knots times 1.852 in single precision, as the map script figures it.
float SpeedKmh(std::string_view speedKnots);

// A speed in km/h as the map script shows it ("%.2f", without the padding).
// Returns the length; 0 when the figure does not print.
std::size_t FormatKmh(float kmh, char (&text)[kFieldTextSize]);

// FormatKmh of SpeedKmh.
std::size_t FormatSpeedKmh(std::string_view speedKnots, char (&text)[kFieldTextSize]);

// A coordinate as the parser keeps it ("35/39.1234", "-" in front for south
// or west) in decimal degrees. False unless it reads as whole degrees of
// `degreeDigits` digits, "/", and minutes below 60 (two digits, then a point
// and any decimals), with the total at most `limit` (90 or 180).
bool ReadDegrees(std::string_view coordinate, int degreeDigits, double limit, double& degrees);

// Latitude and longitude of a station; false unless both read.
bool ReadPosition(const StationRecord& station, double& latitude, double& longitude);

// Decimal degrees with six decimals, never "-0.000000".
std::size_t FormatDegrees(double degrees, char (&text)[kFieldTextSize]);

// The course as a number: digits with at most one point, at least one digit.
bool ReadCourse(std::string_view course, double& degrees);

// A number as JSON and CSV carry it: the shortest text that reads back the same.
std::size_t FormatNumber(double value, char (&text)[kFieldTextSize]);

// The clock reading as ISO 8601 local time with its offset from UTC,
// "2026-12-09T21:14:05+09:00". 0 when it cannot be converted.
std::size_t FormatLocalIso(std::time_t t, char (&text)[kFieldTextSize]);

// receivedAt up to its terminating zero.
std::string_view ReceivedAtText(const StationRecord& station);

}  // namespace rigplot
