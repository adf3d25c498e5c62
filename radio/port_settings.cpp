#include "radio/port_settings.h"

#include <climits>

namespace rigplot {

namespace {

constexpr std::size_t kWindowBytes = 40;
constexpr std::size_t kMaxPortName = 11;
constexpr int kDefaultBaudRate = 9600;

// The whitespace of scanf: space, \t, \n, \v, \f, \r.
bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void SkipSpace(std::string_view text, std::size_t& at) {
  while (at < text.size() && IsSpace(text[at])) ++at;
}

// "%d": optional sign, then decimal digits up to the first non-digit. A value
// beyond int saturates, so a huge number can never wrap onto a listed rate.
std::optional<int> ScanInt(std::string_view text, std::size_t at) {
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  if (at >= text.size() || !IsDigit(text[at])) return std::nullopt;
  long long value = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > limit) value = limit;
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

PortSettings ParsePortSettings(std::string_view text) {
  PortSettings settings;
  // The text ends at a NUL, as a C string does for scanf; past it a name
  // would carry the NUL into the device path, which the OS cuts short there.
  text = text.substr(0, text.find('\0'));
  std::size_t at = 0;
  SkipSpace(text, at);
  const std::size_t nameStart = at;
  while (at < text.size() && !IsSpace(text[at])) ++at;
  const std::size_t nameLength = at - nameStart;
  // No name, or one too long to be a port: as if the file held nothing, like
  // scanf's "%s" failing before "%d" is tried.
  if (nameLength == 0 || nameLength > kMaxPortName) return settings;
  settings.portName.assign(text.substr(nameStart, nameLength));
  SkipSpace(text, at);
  settings.baudRate = ScanInt(text, at);
  return settings;
}

int WhitelistedBaudRate(std::optional<int> baudRate) {
  if (!baudRate) return kDefaultBaudRate;
  switch (*baudRate) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
      return *baudRate;
    default:
      return kDefaultBaudRate;
  }
}

bool LoadPortSettings(PortConfig& config, const char* fileName, std::string* osError) {
  config = PortConfig{};
  char window[kWindowBytes];
  std::size_t got = 0;
  if (!ReadSettingsFile(fileName, window, sizeof window, got, osError)) return false;
  const PortSettings settings = ParsePortSettings(std::string_view(window, got));
  config.portPath = DevicePathFor(settings.portName);
  config.baudRate = WhitelistedBaudRate(settings.baudRate);
  return true;
}

}  // namespace rigplot
