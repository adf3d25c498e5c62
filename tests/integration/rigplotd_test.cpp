// SPDX-License-Identifier: MIT
// rigplotd as an operator runs it: in a directory holding RIGPLOT.ini, with
// a pseudo-terminal standing in for the radio.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "radio/serial_port.h"
#include "stations/report_log.h"
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

// The answer to a GET on loopback, as far as it came within the patience.
std::string Get(int port, const std::string& path) {
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{
      AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const std::string request = "GET " + path +
                              " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) +
                              "\r\nConnection: close\r\n\r\n";
  std::string answer;
  char buffer[4096];
  ssize_t got = ::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                    ? ::send(sock, request.data(), request.size(), MSG_NOSIGNAL)
                    : -1;
  pollfd ready{sock, POLLIN, 0};
  while (got > 0 && ::poll(&ready, 1, static_cast<int>(test::kPatience.count() * 1000)) > 0 &&
         (got = ::recv(sock, buffer, sizeof buffer, 0)) > 0) {
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(sock);
  return answer;
}

// "pts/N 9600" names the pseudo-terminal the way an operator names ttyUSB0.
std::string SettingsFor(const Pty& pty, const char* rate = "9600") {
  return pty.path().substr(5) + " " + rate + "\r\n";
}

// A child that has ended and is not reaped yet: kill(pid, 0) still finds it,
// but it holds no port.
pid_t ZombiePid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  siginfo_t info{};
  ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT);
  return child;
}

TEST(Rigplotd, ClearsOnSigusr1ReopensOnSighupAndStopsCleanlyOnSigterm) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty, "4800"));
  // A lock left by a program that died is taken over, and ours goes at stop.
  const std::string lockFile = test::LockFileFor(pty.path());
  const pid_t zombie = ZombiePid();
  test::WriteWholeFile(lockFile, test::LockText(zombie));
  Daemon daemon(dir, {"--log", dir / "logs"});
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

  // Log rotation: the day's file moved aside, then SIGHUP.
  const auto logs = std::filesystem::directory_iterator(dir / "logs");
  ASSERT_NE(logs, std::filesystem::directory_iterator()) << "no report log";
  const std::string log = logs->path().string();
  std::filesystem::rename(log, log + ".1");
  daemon.Signal(SIGHUP);
  ASSERT_TRUE(daemon.WaitForOutput("output files reopened"));

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
  ASSERT_TRUE(WaitFor(
      "JA1CCC in a new report log", [&] { return CountOf(test::ReadWholeFile(log), "\r\n") == 2; },
      [&] { return test::ReadWholeFile(log); }));
  EXPECT_NE(test::ReadWholeFile(log).find("JA1CCC"), std::string::npos);
  EXPECT_EQ(CountOf(test::ReadWholeFile(log + ".1"), "\r\n"), 3) << "header and two reports";

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

// SIGTERM's run is `rigplotd 2>&1 | logger` with the logger gone: its lines
// go nowhere, and it stops as it should.
TEST(Rigplotd, SigintAndSigtermWithItsOutputReaderGoneStopIt) {
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    Pty pty;
    ASSERT_TRUE(pty.ok());
    TempDir dir;
    test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
    const bool readerGone = sig == SIGTERM;
    const std::string output = dir / "rigplotd.log";
    const int reader = readerGone && ::mkfifo(output.c_str(), 0600) == 0
                           ? ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                           : -1;
    ASSERT_EQ(readerGone, reader >= 0);
    Daemon daemon(dir);
    // The port's lock file: its output is open and the signals are taken.
    ASSERT_TRUE(WaitFor(
        "the port taken", [&] { return std::filesystem::exists(test::LockFileFor(pty.path())); },
        [] { return ""; }));
    if (readerGone) ::close(reader);
    daemon.Signal(sig);
    EXPECT_EQ(daemon.Wait(), 0) << (readerGone ? "" : daemon.Output());
  }
}

// The report log on a stalled disk holds the worker in its write: the page's
// status and a clear still answer, and SIGTERM ends the service within the
// worker's stop limit instead of hanging until the service manager kills it.
TEST(Rigplotd, AStuckWorkerLeavesTheStatusAnsweringAndTheStopBounded) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
  // Today's and tomorrow's log files: FIFOs with full buffers, nobody reading.
  const std::string logDir = dir / "log";
  std::filesystem::create_directory(logDir);
  int fifos[2];
  for (int day = 0; day < 2; ++day) {
    const std::string path = ReportLog(logDir).PathFor(std::time(nullptr) + day * 86400);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    fifos[day] = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GT(::fcntl(fifos[day], F_SETPIPE_SZ, 4096), 0);
    while (::write(fifos[day], path.data(), path.size()) > 0) {
    }
  }
  Daemon daemon(dir, {"--web", "127.0.0.1:0", "--log", logDir});
  ASSERT_TRUE(daemon.WaitForOutput("page http://127.0.0.1:"));
  const std::string output = daemon.Output();
  const int port = std::stoi(output.substr(output.find("page http://127.0.0.1:") + 22));
  ASSERT_TRUE(pty.Send(StationReport("JA1AAA", 1)));
  // Stored but not yet counted as done: the worker is in the log's write.
  std::string status;
  EXPECT_TRUE(WaitFor(
      "the status showing the stuck report",
      [&] {
        status = Get(port, "/status.json");
        return status.find("\"stations\":1") != std::string::npos;
      },
      [&] { return status; }));
  EXPECT_NE(status.find("\"reports_stored\":0"), std::string::npos) << status;

  daemon.Signal(SIGUSR1);
  EXPECT_TRUE(daemon.WaitForOutput("station table cleared"));
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.Wait(), 0) << daemon.Output();
  EXPECT_NE(daemon.Output().find("the receive thread did not end"), std::string::npos)
      << daemon.Output();
  for (int fd : fifos) ::close(fd);
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

// Standard output of a command line, and its exit status.
std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  for (std::size_t got;
       pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    out.append(buffer, got);
  }
  status = pipe == nullptr ? -1 : WEXITSTATUS(::pclose(pipe));
  return out;
}

// Reports through the radio land in the history file with every field, the
// page draws their tracks, and a file of a newer version stops the start
// and stays as it was.
TEST(Rigplotd, KeepsEveryReportInTheHistoryAndServesItsTracks) {
  Pty pty;
  ASSERT_TRUE(pty.ok());
  TempDir dir;
  test::WriteWholeFile(dir / "RIGPLOT.ini", SettingsFor(pty));
  const std::string history = dir / "history.sqlite";
  Daemon daemon(dir, {"--web", "127.0.0.1:0", "--history", history});
  ASSERT_TRUE(daemon.WaitForOutput("page http://127.0.0.1:"));
  const std::string output = daemon.Output();
  const int port = std::stoi(output.substr(output.find("page http://127.0.0.1:") + 22));
  ASSERT_TRUE(pty.Send(StationReport("JA1AAA", 1) + StationReport("JA1AAA", 2) +
                       StationReport("JA1AAA", 3) + StationReport("JA1BBB", 4)));
  std::string tracks;
  EXPECT_TRUE(WaitFor(
      "both tracks on the page",
      [&] {
        tracks = Get(port, "/tracks.geojson");
        return CountOf(tracks, "\"LineString\"") == 2 && CountOf(tracks, "\"points\":3") == 1;
      },
      [&] { return tracks; }));
  EXPECT_EQ(CountOf(Get(port, "/track.gpx?callsign=JA1AAA"), "<trkpt "), 3);
  EXPECT_EQ(Get(port, "/tracks.geojson?since=yesterday").rfind("HTTP/1.1 400", 0), 0u);
  daemon.Signal(SIGTERM);
  EXPECT_EQ(daemon.Wait(), 0) << daemon.Output();

  int status = -1;
  const std::string tool = RIGPLOT_BIN_DIR "/rigplot-history --file '" + history + "' ";
  const std::string csv = RunCommand(tool + "export --callsign JA1AAA --format csv", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CountOf(csv, ",JA1AAA,,0,35.03539,139.761315,18.52,90,071226,012345,on the air,\r\n"),
            1)
      << csv;
  EXPECT_NE(RunCommand(tool + "stats", status).find("reports  4\nstations 2\n"), std::string::npos);

  RunCommand("sqlite3 '" + history + "' 'PRAGMA user_version=9'", status);
  const std::string before = test::ReadWholeFile(history);
  Daemon refused(dir, {"--history", history});
  EXPECT_EQ(refused.Wait(), 1) << refused.Output();
  EXPECT_NE(refused.Output().find("newer version (schema 9"), std::string::npos)
      << refused.Output();
  EXPECT_EQ(test::ReadWholeFile(history), before);
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
