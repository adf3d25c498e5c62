#include "stations/report_fields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "report/local_time.h"

namespace rigplot {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits with at most one point and at least one digit.
bool IsDecimal(std::string_view text) {
  int digits = 0;
  int points = 0;
  for (char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1;
}

// from_chars does not take a leading point.
bool ReadDecimal(std::string_view text, double& value) {
  if (!IsDecimal(text)) return false;
  char buffer[kFieldTextSize + 1];
  if (text.size() + 1 >= sizeof buffer) return false;
  std::size_t length = 0;
  if (text.front() == '.') buffer[length++] = '0';
  std::memcpy(buffer + length, text.data(), text.size());
  length += text.size();
  const auto [end, ec] = std::from_chars(buffer, buffer + length, value);
  return ec == std::errc() && end == buffer + length && std::isfinite(value);
}

}  // namespace

std::size_t FormatSpeedKmh(std::string_view speedKnots, char (&text)[kFieldTextSize]) {
  const float kmh = ReadFloatField(speedKnots) * 1.852f;
  const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(kmh),
                                       std::chars_format::fixed, 2);
  return ec == std::errc() ? static_cast<std::size_t>(end - text) : 0;
}

bool SpeedIsFinite(std::string_view speedKnots) {
  return std::isfinite(ReadFloatField(speedKnots) * 1.852f);
}

bool ReadDegrees(std::string_view coordinate, int degreeDigits, double limit, double& degrees) {
  const bool negative = !coordinate.empty() && coordinate.front() == '-';
  if (negative) coordinate.remove_prefix(1);
  const auto width = static_cast<std::size_t>(degreeDigits);
  if (coordinate.size() < width + 2 || coordinate[width] != '/') return false;
  int whole = 0;
  for (std::size_t i = 0; i < width; ++i) {
    if (!IsDigit(coordinate[i])) return false;
    whole = whole * 10 + (coordinate[i] - '0');
  }
  // Minutes as the sentence gives them: two digits, then any decimals.
  const std::string_view minuteText = coordinate.substr(width + 1);
  double minutes = 0;
  if (minuteText.size() < 2 || !IsDigit(minuteText[0]) || !IsDigit(minuteText[1]) ||
      (minuteText.size() > 2 && minuteText[2] != '.') || !ReadDecimal(minuteText, minutes) ||
      minutes >= 60) {
    return false;
  }
  const double value = whole + minutes / 60;
  if (value > limit) return false;
  degrees = negative ? -value : value;
  return true;
}

bool ReadPosition(const StationRecord& station, double& latitude, double& longitude) {
  return ReadDegrees(station.latitude, 2, 90, latitude) &&
         ReadDegrees(station.longitude, 3, 180, longitude);
}

std::size_t FormatDegrees(double degrees, char (&text)[kFieldTextSize]) {
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed, 6);
  if (ec != std::errc()) return 0;
  auto length = static_cast<std::size_t>(end - text);
  if (std::string_view(text, length) == "-0.000000") {
    std::memmove(text, text + 1, --length);
  }
  return length;
}

bool ReadCourse(std::string_view course, double& degrees) {
  return ReadDecimal(course, degrees);
}

std::size_t FormatNumber(double value, char (&text)[kFieldTextSize]) {
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? static_cast<std::size_t>(end - text) : 0;
}

std::size_t FormatLocalIso(std::time_t t, char (&text)[kFieldTextSize]) {
  std::tm local{};
  if (t == static_cast<std::time_t>(-1) || !ToLocalTime(t, local)) return 0;
  const long offset = UtcOffsetSeconds(t, local);
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  const int length =
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                    local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return length > 0 && static_cast<std::size_t>(length) < sizeof text
             ? static_cast<std::size_t>(length)
             : 0;
}

std::string_view ReceivedAtText(const StationRecord& station) {
  const void* zero = std::memchr(station.receivedAt, '\0', sizeof station.receivedAt);
  return std::string_view(station.receivedAt,
                          zero != nullptr ? static_cast<const char*>(zero) - station.receivedAt
                                          : sizeof station.receivedAt);
}

const IconGroup* FindIconGroup(std::string_view gid) {
  for (int i = 0; i < kIconGroupCount; ++i) {
    if (gid == IconGroups()[i].gid) return &IconGroups()[i];
  }
  return nullptr;
}

}  // namespace rigplot
