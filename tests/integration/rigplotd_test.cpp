// rigplotd as an operator runs it: in a directory holding RIGPLOT.ini, with
// a pseudo-terminal standing in for the radio.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "radio/serial_port.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::CountOf;
using test::Pty;
using test::TempDir;
using test::WaitFor;

constexpr char kSettingsMissing[] = "RIGPLOT.ini ファイルが見つかりません";
constexpr char kPortFailed[] = "COMポートの番号が違っているか、指定が間違っています。";

std::string StationReport(const char* callsign, int minute) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,012345,A,35%02d.1234,N,13945.6789,E,010.0,090.0,071226,,,A", minute);
  return test::Report(body, std::string(callsign) + ",  on the air");
}

// One run of rigplotd in `dir`, its output captured there; the page off, so
// that no test takes a fixed port.
class Daemon : public test::ChildProcess {
 public:
  explicit Daemon(const TempDir& dir, const std::vector<std::string>& args = {})
      : ChildProcess(Argv(args), dir.path(), dir / "rigplotd.log") {}

 private:
  static std::vector<std::string> Argv(const std::vector<std::string>& args) {
    std::vector<std::string> argv{RIGPLOT_BIN_DIR "/rigplotd", "--web", "off"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
};

// "pts/N 9600" names the pseudo-terminal the way an operator names ttyUSB0.
std::string SettingsFor(const Pty& pty, const char* rate = "9600") {
  return pty.path().substr(5) + " " + rate + "\r\n";
}

// A process id that no process has any more.
// A child that has ended and is not reaped yet: kill(pid, 0) still finds it,
// but it holds no port.
pid_t ZombiePid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  siginfo_t info{};
  ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
  return child;
}

TEST(Rigplotd, ClearsOnSigusr1AndStopsCleanlyOnSigterm) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty, "4800"));
  // A lock left by a program that died is taken over, and ours goes at stop.
  const std::string lockFile = test::LockFileFor(pty.path());
  const pid_t zombie = ZombiePid();
  test::WriteWholeFile(lockFile, test::LockText(zombie));
  Daemon daemon(dir);
  ASSERT_TRUE(daemon.WaitForOutput("\n"));
  EXPECT_EQ(test::ReadWholeFile(lockFile), test::LockText(daemon.pid()));
  EXPECT_NE(daemon.Output().find(pty.path()), std::string::npos) << daemon.Output();
  EXPECT_NE(daemon.Output().find("4800"), std::string::npos) << daemon.Output();
  EXPECT_NE(daemon.Output().find(dir / "0.mps"), std::string::npos) << daemon.Output();

  const std::string map = dir / "0.mps";
  ASSERT_TRUE(pty.Send(StationReport("JA1AAA", 1) + StationReport("JA1BBB", 2)));
  const auto seen = [&] { return test::ReadWholeFile(map) + daemon.Output(); };
  ASSERT_TRUE(WaitFor(
      "the second station in the map script",
      [&] { return test::ReadWholeFile(map).find("oid=\"2\"") != std::string::npos; }, seen));

  daemon.Signal(SIGUSR1);
  ASSERT_TRUE(daemon.WaitForOutput("cleared"));
  ASSERT_TRUE(pty.Send(StationReport("JA1CCC", 3)));
  ASSERT_TRUE(WaitFor(
      "JA1CCC in the map script",
      [&] { return test::ReadWholeFile(map).find("JA1CCC") != std::string::npos; }, seen));
  std::string content = test::ReadWholeFile(map);
  EXPECT_EQ(CountOf(content, "point pos="), 1);
  EXPECT_NE(content.find("oid=\"1\" gid=\"0.4\" str=\"JA1CCC\""), std::string::npos);
  EXPECT_EQ(content.find("JA1AAA"), std::string::npos);

  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.Wait(), 0) << daemon.Output();
  EXPECT_EQ(test::ReadWholeFile(map), content);  // the last map stays
  EXPECT_FALSE(std::filesystem::exists(lockFile));
  EXPECT_NE(daemon.Output().find("rigplotd: stopped after 3 reports"), std::string::npos)
      << daemon.Output();
  ::waitpid(zombie, nullptr, 0);
  // Only flow control ever went to the radio.
  for (char c : pty.TakeSent()) EXPECT_TRUE(c == 0x11 || c == 0x13) << int(c);
}

TEST(Rigplotd, SigintAndSighupStopItToo) {
  for (int sig : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TempDir dir;
    test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
    Daemon daemon(dir);
    ASSERT_TRUE(daemon.WaitForOutput("listening"));
    daemon.Signal(sig);
    EXPECT_EQ(daemon.Wait(), 0) << daemon.Output();
  }
}

TEST(Rigplotd, StartUpFailuresExitWithStatusOneAndSayWhy) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort busy;  // another program has the radio already
  ASSERT_TRUE(busy.Open(pty.path(), 9600));
  struct Case {
    const char* legend;
    const char* settings;  // nullptr: no RIGPLOT.ini at all
    const char* message;
    const char* reason;
  } cases[] = {
      {"no settings file", nullptr, kSettingsMissing, ""},
      {"no such port", "COM99 9600\r\n", kPortFailed, "/dev/ttyS98"},
      {"empty settings file", "", kPortFailed, ""},
      {"name too long", "ttyUSB0123456 9600", kPortFailed, ""},
      {"not a serial port", "null 9600", kPortFailed, "not a terminal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    TempDir dir;
    if (c.settings) test::WriteWholeFile(dir / "RIGPLOT.ini", c.settings);
    Daemon daemon(dir);
    EXPECT_EQ(daemon.Wait(), 1) << daemon.Output();
    EXPECT_NE(daemon.Output().find(c.message), std::string::npos) << daemon.Output();
    EXPECT_NE(daemon.Output().find(c.reason), std::string::npos) << daemon.Output();
  }
  // A port another serial program holds: its live lock file refuses us,
  // and stays as it was.
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
  Daemon daemon(dir);
  EXPECT_EQ(daemon.Wait(), 1) << daemon.Output();
  EXPECT_NE(daemon.Output().find(kPortFailed), std::string::npos) << daemon.Output();
  EXPECT_NE(daemon.Output().find("locked by process " + std::to_string(::getpid())),
            std::string::npos)
      << daemon.Output();
  EXPECT_EQ(test::ReadWholeFile(test::LockFileFor(pty.path())), test::LockText(::getpid()));
}

TEST(Rigplotd, AnswersVersionAndHelpWithoutTouchingThePort) {
  TempDir dir;  // no RIGPLOT.ini: these must not need one
  {
    Daemon daemon(dir, {"--version"});
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_EQ(daemon.Output().rfind("rigplotd ", 0), 0u) << daemon.Output();
  }
  {
    Daemon daemon(dir, {"--help"});
    EXPECT_EQ(daemon.Wait(), 0);
    EXPECT_NE(daemon.Output().find("RIGPLOT.ini"), std::string::npos);
  }
  for (const char* wrong : {"--bogus", "--kml"}) {
    Daemon daemon(dir, {wrong});
    EXPECT_EQ(daemon.Wait(), 2) << wrong;
    EXPECT_NE(daemon.Output().find("Usage: rigplotd"), std::string::npos) << daemon.Output();
  }
}

}  // namespace
}  // namespace rigplot
