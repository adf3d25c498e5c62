#include "radio/port_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "radio/serial_port.h"
#include "tests/support/files.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::TempDir;
using test::WriteWholeFile;

struct SettingsCase {
  const char* legend;
  std::string text;  // the bytes of the file
  const char* portPath;
  int baudRate;
};

std::string Spaces(int n) {
  return std::string(static_cast<std::size_t>(n), ' ');
}

// Read through the file, as at start-up.
TEST(PortSettings, FileCases) {
  const SettingsCase cases[] = {
      {"one line", "COM1 9600\r\n", "/dev/ttyS0", 9600},
      {"values on separate lines", "COM3\n4800\n", "/dev/ttyS2", 4800},
      {"tabs and CR as whitespace", "\t\r\nCOM4\t\v\f19200", "/dev/ttyS3", 19200},
      {"long COM number", "COM10 19200", "/dev/ttyS9", 19200},
      {"case kept in the name, any case is COM", "com2 2400", "/dev/ttyS1", 2400},
      {"trailing junk after the number", "COM2 2400xyz", "/dev/ttyS1", 2400},
      {"second line ignored", "COM1 1200\nCOM3 4800\n", "/dev/ttyS0", 1200},
      {"plus sign", "COM2 +9600", "/dev/ttyS1", 9600},
      {"leading zero", "COM2 09600", "/dev/ttyS1", 9600},
      {"not whitelisted: 115200", "COM2 115200", "/dev/ttyS1", 9600},
      {"not whitelisted: 0", "COM2 0", "/dev/ttyS1", 9600},
      {"not whitelisted: negative", "COM2 -1200", "/dev/ttyS1", 9600},
      {"not whitelisted: 38400", "COM2 38400", "/dev/ttyS1", 9600},
      {"not whitelisted: 300", "COM2 300", "/dev/ttyS1", 9600},
      {"name alone", "COM2", "/dev/ttyS1", 9600},
      {"name and a line end", "COM2\r\n", "/dev/ttyS1", 9600},
      {"sign without digits", "COM2 -x", "/dev/ttyS1", 9600},
      {"letters instead of the number", "COM2 fast", "/dev/ttyS1", 9600},
      {"huge number does not wrap onto 9600", "COM2 4294976896", "/dev/ttyS1", 9600},
      {"huge negative number", "COM2 -4294957696", "/dev/ttyS1", 9600},
      {"Linux device name", "ttyUSB0 4800", "/dev/ttyUSB0", 4800},
      {"number cut at byte 40", "COM2" + Spaces(35) + "19200", "/dev/ttyS1", 9600},
      {"number ends at byte 40", "COM2" + Spaces(32) + "4800", "/dev/ttyS1", 4800},
      {"number beyond byte 40", Spaces(35) + "COM2 2400", "/dev/ttyS1", 9600},
      {"name cut at byte 40", Spaces(36) + "COM27 2400", "/dev/ttyS1", 9600},
      {"empty file: no name", "", "", 9600},
      {"only whitespace: no name", " \r\n\t ", "", 9600},
      {"name of 11 bytes", "ttyACM12345 2400", "/dev/ttyACM12345", 2400},
      {"name over 11 bytes refused", "ttyUSB012345 2400", "", 9600},
      {"a NUL ends the text", std::string("COM1\0junk 4800", 14), "/dev/ttyS0", 9600},
      {"a NUL ends the text before the rate", std::string("COM1 24\0\x30\x30", 10), "/dev/ttyS0",
       9600},
  };
  TempDir dir;
  const std::string file = dir / "RIGPLOT.ini";
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.legend);
    WriteWholeFile(file, c.text);
    PortConfig config{"stale", 1};
    ASSERT_TRUE(LoadPortSettings(config, file.c_str()));
    EXPECT_EQ(config.portPath, c.portPath);
    EXPECT_EQ(config.baudRate, c.baudRate);
  }
}

TEST(PortSettings, DevicePathRule) {
  struct Case {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"com10", "/dev/ttyS9"},
      {"cOm3", "/dev/ttyS2"},
      {"COM0", "/dev/COM0"},
      {"COMX", "/dev/COMX"},
      {"COM", "/dev/COM"},
      {"COM01", "/dev/COM01"},
      {"COM1a", "/dev/COM1a"},
      {"pts/3", "/dev/pts/3"},
      {"ttyUSB0", "/dev/ttyUSB0"},
      {"COM99999999", "/dev/ttyS99999998"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DevicePathFor(c.name), c.path);
  }
}

TEST(PortSettings, MissingFileFailsAndLeavesNothingBehind) {
  TempDir dir;
  PortConfig config{"/dev/ttyS0", 4800};
  EXPECT_FALSE(LoadPortSettings(config, (dir / "RIGPLOT.ini").c_str()));
  EXPECT_EQ(config.portPath, "");
  EXPECT_EQ(config.baudRate, 0);
}

TEST(PortSettings, UnreadableFileGivesNoName) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A directory opens but cannot be read; a FIFO with no writer must not hang.
  for (const std::string& path : {dir.path(), dir / "fifo"}) {
    SCOPED_TRACE(path);
    PortConfig config;
    ASSERT_TRUE(LoadPortSettings(config, path.c_str()));
    EXPECT_EQ(config.portPath, "");
    EXPECT_EQ(config.baudRate, 9600);
  }
}

// A refused or missing name must not open anything, not even /dev itself.
TEST(PortSettings, NoNameMeansThePortOpenFails) {
  TempDir dir;
  for (const char* text : {"", "ttyUSB012345 9600"}) {
    SCOPED_TRACE(text);
    WriteWholeFile(dir / "RIGPLOT.ini", text);
    PortConfig config;
    ASSERT_TRUE(LoadPortSettings(config, (dir / "RIGPLOT.ini").c_str()));
    SerialPort port;
    EXPECT_FALSE(port.Open(config.portPath, config.baudRate));
    EXPECT_FALSE(port.IsOpen());
  }
}

}  // namespace
}  // namespace rigplot
