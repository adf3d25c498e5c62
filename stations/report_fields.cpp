#include "stations/report_fields.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
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

// The decimal's value, correctly rounded. Up to 15 digits the digits make an
// exact integer and the power of ten is exact, so one division rounds
// correctly; longer texts go to from_chars (which does not take a leading
// point).
bool ReadDecimal(std::string_view text, double& value) {
  if (!IsDecimal(text)) return false;
  static constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (text.size() <= 15) {
    std::int64_t digits = 0;
    int decimals = -1;
    for (char c : text) {
      if (c == '.') {
        decimals = 0;
        continue;
      }
      digits = digits * 10 + (c - '0');
      if (decimals >= 0) ++decimals;
    }
    value = static_cast<double>(digits) / kPowers[decimals > 0 ? decimals : 0];
    return true;
  }
  char buffer[kFieldTextSize + 1];
  if (text.size() + 1 >= sizeof buffer) return false;
  std::size_t length = 0;
  if (text.front() == '.') buffer[length++] = '0';
  std::memcpy(buffer + length, text.data(), text.size());
  length += text.size();
  const auto [end, ec] = std::from_chars(buffer, buffer + length, value);
  return ec == std::errc() && end == buffer + length && std::isfinite(value);
}

// True when the decimal in [first, last) (digits, an optional point and an
// optional exponent, as from_chars matched it) is at least 1 in magnitude.
// Decides whether an out-of-range read overflowed or underflowed.
bool AtLeastOne(const char* first, const char* last) {
  int intDigits = 0;        // integer digits from the first non-zero one on
  int leadingFraction = 0;  // zeros after the point before a non-zero digit
  bool seenNonZero = false;
  bool afterPoint = false;
  const char* p = first;
  for (; p != last && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      afterPoint = true;
    } else if (!afterPoint) {
      if (seenNonZero || *p != '0') ++intDigits;
      seenNonZero = seenNonZero || *p != '0';
    } else if (!seenNonZero) {
      if (*p == '0') {
        ++leadingFraction;
      } else {
        seenNonZero = true;
      }
    }
  }
  if (!seenNonZero) return false;
  long exponent = 0;
  if (p != last) {
    ++p;
    bool negative = false;
    if (p != last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    for (; p != last && *p >= '0' && *p <= '9'; ++p) {
      if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
    }
    if (negative) exponent = -exponent;
  }
  // The first significant digit stands for 10^order.
  const long order = (intDigits > 0 ? intDigits - 1 : -(leadingFraction + 1)) + exponent;
  return order >= 0;
}

}  // namespace

float ReadFloatField(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  // The C locale's blanks, whatever locale the front end has set.
  while (p != end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  // from_chars takes a sign of its own; a second one is not a number.
  if (p == end || *p == '+' || *p == '-') return 0.0f;
  float value = 0.0f;
  const auto [last, ec] = std::from_chars(p, end, value, std::chars_format::general);
  if (ec == std::errc::invalid_argument) return 0.0f;
  if (ec == std::errc::result_out_of_range) {
    value = AtLeastOne(p, last) ? std::numeric_limits<float>::infinity() : 0.0f;
  }
  return negative ? -value : value;
}

float SpeedKmh(std::string_view speedKnots) {
  return ReadFloatField(speedKnots) * 1.852f;
}

std::size_t FormatKmh(float kmh, char (&text)[kFieldTextSize]) {
  const auto [end, ec] = std::to_chars(text, text + sizeof text, static_cast<double>(kmh),
                                       std::chars_format::fixed, 2);
  return ec == std::errc() ? static_cast<std::size_t>(end - text) : 0;
}

std::size_t FormatSpeedKmh(std::string_view speedKnots, char (&text)[kFieldTextSize]) {
  return FormatKmh(SpeedKmh(speedKnots), text);
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
  const int year = local.tm_year + 1900;
  if (year < 0 || year > 9999) return 0;
  const long offset = UtcOffsetSeconds(t, local);
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  if (minutes / 60 > 99) return 0;
  // By hand: this runs for every station of every file, and snprintf
  // costs as much as the rest of a feature.
  char* p = text;
  auto two = [&p](long value) {
    *p++ = static_cast<char>('0' + value / 10);
    *p++ = static_cast<char>('0' + value % 10);
  };
  two(year / 100);
  two(year % 100);
  *p++ = '-';
  two(local.tm_mon + 1);
  *p++ = '-';
  two(local.tm_mday);
  *p++ = 'T';
  two(local.tm_hour);
  *p++ = ':';
  two(local.tm_min);
  *p++ = ':';
  two(local.tm_sec);
  *p++ = offset < 0 ? '-' : '+';
  two(minutes / 60);
  *p++ = ':';
  two(minutes % 60);
  return static_cast<std::size_t>(p - text);
}

std::string_view ReceivedAtText(const StationRecord& station) {
  const void* zero = std::memchr(station.receivedAt, '\0', sizeof station.receivedAt);
  return std::string_view(station.receivedAt,
                          zero != nullptr ? static_cast<const char*>(zero) - station.receivedAt
                                          : sizeof station.receivedAt);
}

}  // namespace rigplot
