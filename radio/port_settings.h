// SPDX-License-Identifier: MIT
// The port settings file: which serial port the radio is on and at what rate.
//
// RIGPLOT.ini in the current directory, e.g. "COM1 9600". Only its first 40
// bytes count; they are read as scanf's "%s %d" would.
// Thread: the front end, once at start-up, before the worker exists.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace rigplot {

inline constexpr char kSettingsFileName[] = "RIGPLOT.ini";
inline constexpr char kSettingsMissingMessage[] = "RIGPLOT.ini ファイルが見つかりません";

// What the file says, before the whitelist.
struct PortSettings {
  std::string portName;         // at most 11 bytes; empty when refused or absent
  std::optional<int> baudRate;  // absent when no number follows the name
};

// The device path and rate the port is opened with.
struct PortConfig {
  std::string portPath;  // device path for this platform
  int baudRate = 0;      // one of 1200, 2400, 4800, 9600, 19200
};

PortSettings ParsePortSettings(std::string_view text);
int WhitelistedBaudRate(std::optional<int> baudRate);

// The platform's device path for a port name (POSIX: COMn -> /dev/ttyS(n-1);
// Windows: \\.\COMn). Per platform, in port_settings_<os>.cpp.
std::string DevicePathFor(std::string_view portName);

// Per platform: the first bytes of the file, at most `size`, into `buffer`;
// `got` is how many (0 when the read fails). False when it cannot be opened,
// with the OS's text in `osError` when given.
bool ReadSettingsFile(const char* fileName, char* buffer, std::size_t size, std::size_t& got,
                      std::string* osError = nullptr);

// Reads the settings file into `config`. False when the file cannot be
// opened, with the OS's text in `osError` when given.
bool LoadPortSettings(PortConfig& config, const char* fileName = kSettingsFileName,
                      std::string* osError = nullptr);

}  // namespace rigplot
