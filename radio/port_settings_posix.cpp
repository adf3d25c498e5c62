// SPDX-License-Identifier: MIT
// The settings file's platform part on POSIX: the device path rule and the
// read of the file's first bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "radio/port_settings.h"

namespace rigplot {

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
      if (c < '0' || c > '9') allDigits = false;
      number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (allDigits) return "/dev/ttyS" + std::to_string(number - 1);
  }
  return "/dev/" + std::string(portName);
}

bool ReadSettingsFile(const char* fileName, char* buffer, std::size_t size, std::size_t& got,
                      std::string* osError) {
  got = 0;
  // Non-blocking, so a FIFO in its place cannot hang start-up.
  const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (osError) *osError = std::strerror(errno);
    return false;
  }
  ssize_t read;
  do {
    read = ::read(fd, buffer, size);
  } while (read < 0 && errno == EINTR);
  ::close(fd);
  // A failed read (a directory, say) leaves an empty text and so no name.
  if (read > 0) got = static_cast<std::size_t>(read);
  return true;
}

}  // namespace rigplot
