#include "radio/serial_port.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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

// Two copies started together over a stale lock, many times: the one that
// opens the port always holds the lock file.
TEST(SerialPort, TwoOpenersOverAStaleLockLeaveTheLockWithTheWinner) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const std::string lockFile = test::LockFileFor(pty.path());
  constexpr long kNoSuchProcess = 99999999;  // above any pid_max
  constexpr int kTrials = 200;
  int opened = 0;
  int unlocked = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    ASSERT_TRUE(test::WriteWholeFile(lockFile, test::LockText(kNoSuchProcess)));
    // Closing a pipe's writing end wakes every reader at once.
    int go[2];
    int check[2];
    int said[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(check), 0);
    ASSERT_EQ(::pipe(said), 0);
    pid_t children[2];
    for (pid_t& child : children) {
      child = ::fork();
      if (child != 0) continue;
      ::close(go[1]);
      ::close(check[1]);
      ::close(said[0]);
      char byte = 0;
      (void)!::read(go[0], &byte, 1);  // released together
      SerialPort port;
      const bool open = port.Open(pty.path(), 9600);
      byte = open ? 'o' : '-';
      (void)!::write(said[1], &byte, 1);
      (void)!::read(check[0], &byte, 1);  // once both have tried
      const bool ours = test::ReadWholeFile(lockFile) == test::LockText(::getpid());
      port.Close();
      ::_exit(open && !ours ? 1 : 0);
    }
    ::close(go[0]);
    ::close(check[0]);
    ::close(said[1]);
    ::close(go[1]);
    char results[2];
    std::size_t got = 0;
    while (got < 2) {
      const ssize_t n = ::read(said[0], results + got, 2 - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(check[1]);
    ::close(said[0]);
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++unlocked;
    }
    opened += static_cast<int>(std::count(results, results + got, 'o'));
  }
  std::filesystem::remove(lockFile);
  EXPECT_EQ(unlocked, 0) << "trials where the port was open without our lock file";
  EXPECT_EQ(opened, kTrials) << "exactly one of the two opens, every time";
}

// A lock that another program made under the name the user gave (a udev
// link) keeps us out as well; ours stays named after the real device.
TEST(SerialPort, HonoursALiveLockUnderTheLinksName) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TempDir dir;
  const std::string name = "dstar-" + std::to_string(::getpid());
  const std::string link = dir / name;
  std::filesystem::create_symlink(pty.path(), link);
  const std::string linkLock = "/run/lock/LCK.." + name;
  ASSERT_TRUE(test::WriteWholeFile(linkLock, test::LockText(::getppid())));
  SerialPort port;
  std::string reason;
  EXPECT_FALSE(port.Open(link, 9600, &reason));
  EXPECT_NE(reason.find("locked by process " + std::to_string(::getppid())), std::string::npos)
      << reason;
  std::filesystem::remove(linkLock);
  ASSERT_TRUE(port.Open(link, 9600, &reason)) << reason;
  EXPECT_EQ(test::ReadWholeFile(test::LockFileFor(pty.path())), test::LockText(::getpid()));
  EXPECT_FALSE(std::filesystem::exists(linkLock));
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
