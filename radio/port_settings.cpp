#include "radio/port_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

std::string DevicePathFor(std::string_view portName) {
  if (portName.empty()) return {};  // opens nothing: the port message follows
  // "COMn" in any case, n a decimal number from 1 without leading zeros, is
  // the n-th serial port, which Linux counts from ttyS0.
  if (portName.size() > 3 && (portName[0] | 0x20) == 'c' && (portName[1] | 0x20) == 'o' &&
      (portName[2] | 0x20) == 'm' && portName[3] >= '1' && portName[3] <= '9') {
    std::string_view digits = portName.substr(3);
    bool allDigits = digits.size() <= 9;
    unsigned long number = 0;
    for (char c : digits) {
      if (!IsDigit(c)) allDigits = false;
      number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (allDigits) return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "/dev/" + std::string(portName);
}

bool LoadPortSettings(PortConfig& config, const char* fileName) {
  config = PortConfig{};
  // Non-blocking, so a FIFO in its place cannot hang start-up.
  const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  char window[kWindowBytes];
  ssize_t got;
  do {
    got = ::read(fd, window, sizeof window);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  // A failed read (a directory, say) leaves an empty text and so no name.
  const std::string_view text(window, got > 0 ? static_cast<std::size_t>(got) : 0);
  const PortSettings settings = ParsePortSettings(text);
  config.portPath = DevicePathFor(settings.portName);
  config.baudRate = WhitelistedBaudRate(settings.baudRate);
  return true;
}

}  // namespace rigplot
