// SPDX-License-Identifier: MIT
// The settings file on Windows: read with CreateFileA and no sharing, the
// port name turned into a \\.\ device path.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "radio/port_settings.h"
#include "radio/radio_link.h"
#include "stations/os_text_win32.h"
#include "tests/support/files.h"

namespace rigplot {
namespace {

using test::TempDir;
using test::WriteWholeFile;

TEST(PortSettingsWin32, DevicePathIsTheDeviceNamespace) {
  const struct {
    const char* name;
    const char* path;
  } rows[] = {
      {"COM1", "\\\\.\\COM1"},
      {"COM10", "\\\\.\\COM10"},  // only the device namespace opens COM10 and above
      {"com2", "\\\\.\\com2"},    // no case change
      {"COM0", "\\\\.\\COM0"},    // not checked here: the open decides
      {"", ""},                   // nothing to open: the port message follows
  };
  for (const auto& row : rows) EXPECT_EQ(DevicePathFor(row.name), row.path) << row.name;
}

TEST(PortSettingsWin32, FileCases) {
  const struct {
    const char* legend;
    std::string text;
    const char* portPath;
    int baudRate;
  } rows[] = {
      {"one line with CR LF", "COM1 9600\r\n", "\\\\.\\COM1", 9600},
      {"values on two lines", "COM3\r\n4800\r\n", "\\\\.\\COM3", 4800},
      {"not whitelisted", "COM2 115200", "\\\\.\\COM2", 9600},
      {"junk after the number", "COM2 2400xyz", "\\\\.\\COM2", 2400},
      {"second line ignored", "COM1 1200\r\nCOM3 4800\r\n", "\\\\.\\COM1", 1200},
      {"number beyond byte 40", std::string(35, ' ') + "COM2 2400", "\\\\.\\COM2", 9600},
      {"empty file", "", "", 9600},
      {"name over 11 bytes", "COM123456789 2400", "", 9600},
  };
  TempDir dir;
  const std::string file = dir / "RIGPLOT.ini";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.legend);
    ASSERT_TRUE(WriteWholeFile(file, row.text));
    PortConfig config{"stale", 1};
    ASSERT_TRUE(LoadPortSettings(config, file.c_str()));
    EXPECT_EQ(config.portPath, row.portPath);
    EXPECT_EQ(config.baudRate, row.baudRate);
  }
}

// CreateFileA sets the thread's last error and leaves errno alone: the
// reason shown is the system's text for the former.
TEST(PortSettingsWin32, MissingFileFailsWithTheSystemsReason) {
  TempDir dir;
  const std::string file = dir / "RIGPLOT.ini";
  PortConfig config{"\\\\.\\COM1", 4800};
  EXPECT_FALSE(LoadPortSettings(config, file.c_str()));
  EXPECT_EQ(config.portPath, "");
  EXPECT_EQ(config.baudRate, 0);
  RadioLink link;
  const LinkResult opened = link.Open(file.c_str());
  EXPECT_EQ(opened.failure, LinkFailure::kSettingsMissing);
  EXPECT_EQ(opened.osError, file + ": " + SystemMessage(ERROR_FILE_NOT_FOUND));
}

// No sharing: while another program has the file open it counts as missing,
// and start-up never reads a file that an editor is half way through saving.
TEST(PortSettingsWin32, FileHeldOpenElsewhereCannotBeRead) {
  TempDir dir;
  const std::string file = dir / "RIGPLOT.ini";
  ASSERT_TRUE(WriteWholeFile(file, "COM4 4800\r\n"));
  const HANDLE editor = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(editor, INVALID_HANDLE_VALUE);
  PortConfig config;
  EXPECT_FALSE(LoadPortSettings(config, file.c_str()));
  CloseHandle(editor);
  ASSERT_TRUE(LoadPortSettings(config, file.c_str()));
  EXPECT_EQ(config.portPath, "\\\\.\\COM4");
  EXPECT_EQ(config.baudRate, 4800);
}

}  // namespace
}  // namespace rigplot
