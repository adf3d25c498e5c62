// SPDX-License-Identifier: MIT
// Fuzz target: any settings file. The name that comes out must be usable as
// a device path and the rate must be one the port can be set to.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "radio/port_settings.h"

namespace {

void Require(bool ok, const char* broken) {
  if (ok) return;
  std::fprintf(stderr, "settings_fuzz: %s\n", broken);
  std::abort();
}

bool IsListedRate(int rate) {
  return rate == 1200 || rate == 2400 || rate == 4800 || rate == 9600 || rate == 19200;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const rigplot::PortSettings settings = rigplot::ParsePortSettings(text);
  const std::string& name = settings.portName;
  Require(name.size() <= 11, "port name over 11 bytes");
  // A NUL would cut the path short where the OS reads it.
  Require(name.find_first_of(std::string_view(" \t\n\v\f\r\0", 7)) == std::string::npos,
          "whitespace or NUL in the port name");
  Require(name.empty() || text.find(name) != std::string_view::npos, "name not from the file");
  Require(!name.empty() || !settings.baudRate, "a rate without a name");

  const int rate = rigplot::WhitelistedBaudRate(settings.baudRate);
  Require(IsListedRate(rate), "rate off the list");
  Require(!settings.baudRate || !IsListedRate(*settings.baudRate) || rate == *settings.baudRate,
          "listed rate changed");

  const std::string path = rigplot::DevicePathFor(name);
  Require(path.empty() == name.empty(), "path without a name");
  Require(path.empty() || path.starts_with("/dev/"), "path outside /dev");
  Require(path.find('\0') == std::string::npos, "NUL in the device path");
  return 0;
}
