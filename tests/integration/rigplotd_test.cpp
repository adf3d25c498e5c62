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
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::Pty;
using test::TempDir;
using test::WaitUntil;

constexpr char kSettingsMissing[] = "RIGPLOT.ini ファイルが見つかりません";
constexpr char kPortFailed[] = "COMポートの番号が違っているか、指定が間違っています。";

std::string StationReport(const char* callsign, int minute) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,012345,A,35%02d.1234,N,13945.6789,E,010.0,090.0,071226,,,A", minute);
  return test::Report(body, std::string(callsign) + ",  on the air");
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// One run of rigplotd in `dir`, its stderr captured.
class Daemon {
 public:
  Daemon(const TempDir& dir, std::vector<std::string> args = {}) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(pipeFds[1], STDERR_FILENO);
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
      ::setenv("TEMP", dir.path().c_str(), 1);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      const std::string program = RIGPLOT_BIN_DIR "/rigplotd";
      // No page unless a case asks: tests take no fixed port.
      std::string webOff[] = {"--web", "off"};
      std::vector<char*> argv{const_cast<char*>(program.c_str()), webOff[0].data(),
                              webOff[1].data()};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    m_output = pipeFds[0];
  }
  ~Daemon() {
    if (m_pid > 0 && !m_reaped) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
    if (m_output >= 0) ::close(m_output);
  }

  bool started() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }
  void Signal(int sig) const { ::kill(m_pid, sig); }

  // Reads its output until `text` shows up; false after 5 s.
  bool WaitForOutput(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_text.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{m_output, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      const ssize_t got = ::read(m_output, buffer, sizeof buffer);
      if (got <= 0) return m_text.find(text) != std::string::npos;
      m_text.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
  }

  // Waits for the process to end; its exit status, or -1 if it did not end
  // by itself or ended by a signal.
  int ExitStatus() {
    int status = 0;
    const bool ended = WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; });
    if (!ended) return -1;
    m_reaped = true;
    WaitForOutput("\x01");  // collect what is left, up to the end of the pipe
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& output() const { return m_text; }

 private:
  pid_t m_pid = -1;
  bool m_reaped = false;
  int m_output = -1;
  std::string m_text;
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
  ASSERT_TRUE(daemon.started());
  ASSERT_TRUE(daemon.WaitForOutput("\n"));
  EXPECT_EQ(test::ReadWholeFile(lockFile), test::LockText(daemon.pid()));
  EXPECT_NE(daemon.output().find(pty.path()), std::string::npos) << daemon.output();
  EXPECT_NE(daemon.output().find("4800"), std::string::npos) << daemon.output();
  EXPECT_NE(daemon.output().find(dir / "0.mps"), std::string::npos) << daemon.output();

  const std::string map = dir / "0.mps";
  ASSERT_TRUE(pty.Send(StationReport("JA1AAA", 1) + StationReport("JA1BBB", 2)));
  ASSERT_TRUE(
      WaitUntil([&] { return test::ReadWholeFile(map).find("oid=\"2\"") != std::string::npos; }));

  daemon.Signal(SIGUSR1);
  ASSERT_TRUE(daemon.WaitForOutput("cleared"));
  ASSERT_TRUE(pty.Send(StationReport("JA1CCC", 3)));
  ASSERT_TRUE(
      WaitUntil([&] { return test::ReadWholeFile(map).find("JA1CCC") != std::string::npos; }));
  std::string content = test::ReadWholeFile(map);
  EXPECT_EQ(CountOf(content, "point pos="), 1);
  EXPECT_NE(content.find("oid=\"1\" gid=\"0.4\" str=\"JA1CCC\""), std::string::npos);
  EXPECT_EQ(content.find("JA1AAA"), std::string::npos);

  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.ExitStatus(), 0) << daemon.output();
  EXPECT_EQ(test::ReadWholeFile(map), content);  // the last map stays
  EXPECT_FALSE(std::filesystem::exists(lockFile));
  EXPECT_NE(daemon.output().find("rigplotd: stopped after 3 reports"), std::string::npos)
      << daemon.output();
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
    EXPECT_EQ(daemon.ExitStatus(), 0) << daemon.output();
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
    EXPECT_EQ(daemon.ExitStatus(), 1) << daemon.output();
    EXPECT_NE(daemon.output().find(c.message), std::string::npos) << daemon.output();
    EXPECT_NE(daemon.output().find(c.reason), std::string::npos) << daemon.output();
  }
  // A port another serial program holds: its live lock file refuses us,
  // and stays as it was.
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
  Daemon daemon(dir);
  EXPECT_EQ(daemon.ExitStatus(), 1) << daemon.output();
  EXPECT_NE(daemon.output().find(kPortFailed), std::string::npos) << daemon.output();
  EXPECT_NE(daemon.output().find("locked by process " + std::to_string(::getpid())),
            std::string::npos)
      << daemon.output();
  EXPECT_EQ(test::ReadWholeFile(test::LockFileFor(pty.path())), test::LockText(::getpid()));
}

TEST(Rigplotd, AnswersVersionAndHelpWithoutTouchingThePort) {
  TempDir dir;  // no RIGPLOT.ini: these must not need one
  {
    Daemon daemon(dir, {"--version"});
    EXPECT_EQ(daemon.ExitStatus(), 0);
    EXPECT_EQ(daemon.output().rfind("rigplotd ", 0), 0u) << daemon.output();
  }
  {
    Daemon daemon(dir, {"--help"});
    EXPECT_EQ(daemon.ExitStatus(), 0);
    EXPECT_NE(daemon.output().find("RIGPLOT.ini"), std::string::npos);
  }
  for (const char* wrong : {"--bogus", "--kml"}) {
    Daemon daemon(dir, {wrong});
    EXPECT_EQ(daemon.ExitStatus(), 2) << wrong;
    EXPECT_NE(daemon.output().find("Usage: rigplotd"), std::string::npos) << daemon.output();
  }
}

}  // namespace
}  // namespace rigplot
