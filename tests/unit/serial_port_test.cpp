#include "radio/serial_port.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::Pty;
using test::TempDir;
using test::WaitFor;

TEST(SerialPort, RefusesWhatIsNotARadioPort) {
  TempDir dir;
  test::WriteWholeFile(dir / "plain", "COM1 9600\n");
  struct Case {
    const char* legend;
    std::string path;
    const char* reason;
  } cases[] = {
      {"missing device", "/dev/ttyS-none", "No such file"},
      {"no device named", "", "No such file"},
      {"regular file", dir / "plain", "not a terminal"},
      {"character device that is no terminal", "/dev/null", "not a terminal"},
      {"directory", "/dev", "Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SerialPort port;
    std::string reason;
    EXPECT_FALSE(port.Open(c.path, 9600, &reason));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kFailed);
  }
}

TEST(SerialPort, RefusesARateOffTheList) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  EXPECT_FALSE(port.Open(pty.path(), 38400));
}

// Tests run as root, where TIOCEXCL alone would let a second copy in.
// The flock keeps out a second opener in this process (whose own lock file
// it may take over); the shared lock file is ours while open and gone after.
TEST(SerialPort, SecondOpenOfTheSameDeviceFails) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::string lockFile = test::LockFileFor(pty.path());
  SerialPort first;
  SerialPort second;
  ASSERT_TRUE(first.Open(pty.path(), 9600));
  EXPECT_EQ(test::ReadWholeFile(lockFile), test::LockText(::getpid()));
  std::string reason;
  EXPECT_FALSE(second.Open(pty.path(), 9600, &reason));
  EXPECT_NE(reason.find("in use"), std::string::npos) << reason;
  first.Close();
  EXPECT_TRUE(second.Open(pty.path(), 9600));
  second.Close();
  EXPECT_FALSE(std::filesystem::exists(lockFile));
}

TEST(SerialPort, LineSettingsSeenFromTheOtherSide) {
  const struct {
    int rate;
    speed_t speed;
  } rates[] = {{1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}};
  for (const auto& r : rates) {
    SCOPED_TRACE(r.rate);
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.Open(pty.path(), r.rate));
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), r.speed);
    EXPECT_EQ(cfgetospeed(&tio), r.speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXANY | INPCK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
  }
}

TEST(SerialPort, BytesArriveUnchangedAndAtMostOneBlockAtATime) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), 9600));
  // CR, LF, top-bit and control bytes pass as they are, in order.
  std::string sent;
  for (int i = 0; i < 700; ++i) {
    const auto b = static_cast<char>((i * 7 + 1) & 0xFF);
    if (b != 0x11 && b != 0x13) sent += b;  // flow-control characters are the driver's
  }
  ASSERT_TRUE(pty.Send(sent));
  ASSERT_TRUE(WaitFor(
      std::to_string(sent.size()) + " bytes queued",
      [&] { return port.QueuedBytes() == static_cast<int>(sent.size()); },
      [&] { return std::to_string(port.QueuedBytes()); }));
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kReceived);
  std::uint8_t block[SerialPort::kBlockSize + 16];
  std::string received;
  ASSERT_EQ(port.Read(block, SerialPort::kBlockSize + 16), SerialPort::kBlockSize);
  received.append(reinterpret_cast<char*>(block), SerialPort::kBlockSize);
  const int rest = port.QueuedBytes();
  EXPECT_EQ(rest, static_cast<int>(sent.size()) - SerialPort::kBlockSize);
  ASSERT_EQ(port.Read(block, rest), rest);
  received.append(reinterpret_cast<char*>(block), static_cast<std::size_t>(rest));
  EXPECT_EQ(received, sent);
  EXPECT_EQ(port.QueuedBytes(), 0);
  EXPECT_EQ(pty.TakeSent(), "");  // nothing echoed back to the radio
}

TEST(SerialPort, WakeEndsAPendingWaitAndEveryLaterOneUntilReopened) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), 9600));
  SerialPort::WaitResult result = SerialPort::WaitResult::kReceived;
  std::thread waiter([&] { result = port.Wait(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  port.Wake();
  waiter.join();
  EXPECT_EQ(result, SerialPort::WaitResult::kWoken);
  ASSERT_TRUE(pty.Send("$"));
  ASSERT_TRUE(WaitFor(
      "one byte queued", [&] { return port.QueuedBytes() == 1; },
      [&] { return std::to_string(port.QueuedBytes()); }));
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kWoken);
  port.Close();
  ASSERT_TRUE(port.Open(pty.path(), 9600));
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kReceived);
}

TEST(SerialPort, HangUpFailsTheWaitOnceTheQueueIsEmpty) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port;
  ASSERT_TRUE(port.Open(pty.path(), 9600));
  pty.CloseMaster();
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kFailed);
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kFailed);
  EXPECT_FALSE(SerialPort::DeviceExists(pty.path()));
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Wait(), SerialPort::WaitResult::kFailed);
}

}  // namespace
}  // namespace rigplot
