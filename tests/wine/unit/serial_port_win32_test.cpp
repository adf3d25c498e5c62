// SPDX-License-Identifier: MIT
// The serial port's failures on Windows, where no port is needed: a port
// that does not exist, a device that is no serial port, an empty name.
// The port itself is exercised through a pseudo-terminal by the Wine tests.
#include <gtest/gtest.h>

#include <string>

#include "radio/serial_port.h"

namespace rigplot {
namespace {

TEST(SerialPortWin32, OpenFailuresCarryTheReason) {
  const struct {
    const char* path;
    const char* reason;  // part of the message after the path
  } rows[] = {
      {"\\\\.\\COM9", ""},                  // no such port here
      {"\\\\.\\NUL", "not a serial port"},  // opens, but has no line settings
      {"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    SerialPort port;
    std::string osError;
    EXPECT_FALSE(port.Open(row.path, 9600, &osError));
    EXPECT_FALSE(port.IsOpen());
    const std::string shown = *row.path ? row.path : "(no device)";
    EXPECT_EQ(osError.rfind(shown + ": ", 0), 0u) << osError;
    EXPECT_GT(osError.size(), shown.size() + 2) << osError;
    EXPECT_NE(osError.find(row.reason), std::string::npos) << osError;
  }
}

TEST(SerialPortWin32, DeviceExistsFollowsTheDosDevices) {
  EXPECT_FALSE(SerialPort::DeviceExists("\\\\.\\COM9"));
  EXPECT_TRUE(SerialPort::DeviceExists("\\\\.\\NUL"));
  EXPECT_FALSE(SerialPort::DeviceExists(""));
}

// A closed port never blocks: a wait fails at once, a wake is kept.
TEST(SerialPortWin32, ClosedPortNeitherBlocksNorReads) {
  SerialPort port;
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kFailed);
  EXPECT_EQ(port.QueuedBytes(), -1);
  std::uint8_t block[SerialPort::kBlockSize];
  EXPECT_EQ(port.Read(block, 1), -1);
  port.Wake();
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kWoken);
}

}  // namespace
}  // namespace rigplot
