#include "radio/receive_worker.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "tests/unit/nmea_test_util.h"
#include "tests/unit/pty_test_util.h"

namespace rigplot {
namespace {

using test::Pty;
using test::TempDir;
using test::WaitUntil;

// A valid report from station number `n`, e.g. JA1AA003.
std::string StationReport(int n) {
  char body[96];
  std::snprintf(body, sizeof body,
                "GPRMC,012345,A,35%02d.1234,N,139%02d.6789,E,010.0,090.0,071226,,,A", n % 60,
                n % 60);
  char line[32];
  std::snprintf(line, sizeof line, "JA1AA%03d,  hello", n);
  return test::Report(body, line);
}

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// The radio link of one run: a pty for the radio, the worker on its slave,
// TEMP pointing at a fresh directory for the map script.
class ReceiveWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.ok());
    ::setenv("TEMP", m_dir.path().c_str(), 1);
    OpenOn(m_pty.path());
  }
  // The worker keeps its own copy of the settings, for reopening.
  void OpenOn(const std::string& path) {
    m_worker.reset();
    m_port.Close();
    m_config = {path, 9600};
    ASSERT_TRUE(m_port.Open(m_config.portPath, m_config.baudRate));
    m_worker = std::make_unique<ReceiveWorker>(m_port, m_config, m_parser, m_table, m_writer);
  }
  void TearDown() override {
    if (m_worker) m_worker->Stop();
    m_port.Close();
    m_writer.CloseIfOpen();
    // The program never writes to the radio: at most flow-control bytes.
    for (char c : m_pty.TakeSent()) EXPECT_TRUE(c == 0x11 || c == 0x13) << int(c);
  }

  // Queues the bytes on the line while the worker is not reading yet.
  void Queue(const std::string& bytes) {
    ASSERT_TRUE(m_pty.Send(bytes));
    ASSERT_TRUE(WaitUntil([&] { return m_pty.SlaveQueued() == static_cast<int>(bytes.size()); }));
  }

  std::string Map() const { return test::ReadWholeFile(m_dir / "0.mps"); }
  bool ReportsReach(std::uint64_t n) {
    return WaitUntil([&] { return m_worker->reportsStored() >= n; });
  }

  Pty m_pty;
  TempDir m_dir;
  PortConfig m_config;
  SerialPort m_port;
  ReportParser m_parser;
  StationTable m_table;
  MapScriptWriter m_writer;
  std::unique_ptr<ReceiveWorker> m_worker;
};

TEST_F(ReceiveWorkerTest, ReportSplitOverThreeReadsCompletesOnItsLastByte) {
  ASSERT_TRUE(m_worker->Start());
  const std::string report = StationReport(1);
  ASSERT_TRUE(m_pty.Send(report.substr(0, 40)));
  ASSERT_TRUE(WaitUntil([&] { return m_worker->blocksRead() >= 1 && m_pty.SlaveQueued() == 0; }));
  ASSERT_TRUE(m_pty.Send(report.substr(40, 35)));
  ASSERT_TRUE(WaitUntil([&] { return m_worker->blocksRead() >= 2 && m_pty.SlaveQueued() == 0; }));
  EXPECT_EQ(m_worker->reportsStored(), 0u);
  ASSERT_TRUE(m_pty.Send(report.substr(75)));
  ASSERT_TRUE(ReportsReach(1));
  EXPECT_EQ(m_worker->mapScriptPath(), m_dir / "0.mps");
  const std::string map = Map();
  EXPECT_EQ(CountOf(map, "point pos="), 1);
  EXPECT_NE(map.find("oid=\"1\" gid=\"0.4\" str=\"JA1AA001\""), std::string::npos);
}

TEST_F(ReceiveWorkerTest, SevenHundredQueuedBytesAreReadAs512Then188) {
  // Seven reports after some line noise, padded to 700 bytes; one report
  // straddles the end of the first block.
  std::string reports;
  for (int n = 1; n <= 7; ++n) reports += StationReport(n);
  ASSERT_LT(reports.size(), 700u);
  const std::string bytes = std::string(700 - reports.size(), '#') + reports;
  ASSERT_EQ(bytes.size(), 700u);
  std::size_t start = 700 - reports.size();
  bool straddles = false;
  for (int n = 1; n <= 7; ++n) {
    const std::size_t end = start + StationReport(n).size();
    straddles |= start < 512 && end > 512;
    start = end;
  }
  ASSERT_TRUE(straddles);

  Queue(bytes);
  ASSERT_TRUE(m_worker->Start());
  ASSERT_TRUE(ReportsReach(7));
  EXPECT_EQ(m_worker->blocksRead(), 2u);
  EXPECT_EQ(m_table.count(), 7);
  const std::string map = Map();
  EXPECT_EQ(CountOf(map, "point pos="), 7);
  for (int n = 1; n <= 7; ++n) {
    EXPECT_NE(map.find("oid=\"" + std::to_string(n) + "\" gid=\"0.4\" str=\"JA1AA00" +
                       std::to_string(n) + "\""),
              std::string::npos)
        << n;
  }
}

TEST_F(ReceiveWorkerTest, TwoReportsInOneReadAreBothStoredAndMapped) {
  Queue(StationReport(1) + StationReport(2));
  ASSERT_TRUE(m_worker->Start());
  ASSERT_TRUE(ReportsReach(2));
  EXPECT_EQ(m_worker->blocksRead(), 1u);
  EXPECT_EQ(m_table.count(), 2);
  EXPECT_EQ(m_table.slot(0).callsign, "JA1AA001");
  EXPECT_EQ(m_table.slot(1).callsign, "JA1AA002");
  EXPECT_EQ(CountOf(Map(), "point pos="), 2);
}

TEST_F(ReceiveWorkerTest, StopWhileIdleEndsTheWorkerAndLeavesThePortToTheFrontEnd) {
  ASSERT_TRUE(m_worker->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  m_worker->Stop();
  EXPECT_TRUE(m_worker->stopRequested());
  EXPECT_TRUE(m_port.IsOpen());
  m_worker->Stop();  // a second stop is harmless
  // Bytes that arrive afterwards are not read.
  ASSERT_TRUE(m_pty.Send(StationReport(1)));
  ASSERT_TRUE(WaitUntil([&] { return m_pty.SlaveQueued() > 0; }));
  EXPECT_EQ(m_worker->blocksRead(), 0u);
}

TEST_F(ReceiveWorkerTest, StopBeforeStartNeverReadsButStillClearsTheTable) {
  {
    std::lock_guard<std::mutex> lock(m_table.mutex());
    PendingReport old;
    old.callsign = "OLD";
    m_table.StoreReport(old);
  }
  const std::string report = StationReport(1);
  Queue(report);
  m_worker->Stop();
  ASSERT_TRUE(m_worker->Start());
  m_worker->Stop();
  EXPECT_EQ(m_worker->blocksRead(), 0u);
  EXPECT_EQ(m_pty.SlaveQueued(), static_cast<int>(report.size()));
  EXPECT_EQ(m_table.count(), 0);
}

// CPU time of the worker's thread, in milliseconds.
double ThreadCpuMs(ReceiveWorker& worker) {
  clockid_t clock;
  if (pthread_getcpuclockid(worker.nativeHandle(), &clock) != 0) return -1;
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A pulled cable: the worker rests instead of spinning, keeps the table and
// the map, and carries on once the device is back under the same name.
TEST_F(ReceiveWorkerTest, HangUpPausesThenReopensWhenTheDeviceIsBack) {
  const std::string link = m_dir / "radio";
  std::filesystem::create_symlink(m_pty.path(), link);
  OpenOn(link);
  ASSERT_TRUE(m_worker->Start());
  // Half a report before the break must not join half of one after it.
  ASSERT_TRUE(m_pty.Send(StationReport(1) + StationReport(2).substr(0, 60)));
  ASSERT_TRUE(ReportsReach(1));
  ASSERT_TRUE(WaitUntil([&] { return m_pty.SlaveQueued() == 0; }));

  // The device goes away: the link names nothing while the cable is out.
  m_pty.CloseMaster();
  m_pty.CloseSlave();
  const std::string gone = link + ".gone";
  std::filesystem::create_symlink(m_dir / "absent", gone);
  std::filesystem::rename(gone, link);
  const double cpuBefore = ThreadCpuMs(*m_worker);
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  const double cpuSpent = ThreadCpuMs(*m_worker) - cpuBefore;
  EXPECT_GE(cpuSpent, 0);
  EXPECT_LT(cpuSpent, 50) << "the worker spins while the device is gone";
  EXPECT_EQ(m_worker->reopens(), 0u);

  Pty replugged;
  ASSERT_TRUE(replugged.ok());
  const std::string fresh = link + ".new";
  std::filesystem::create_symlink(replugged.path(), fresh);
  std::filesystem::rename(fresh, link);
  // Open has made the line raw once the worker has it again.
  ASSERT_TRUE(WaitUntil(
      [&] {
        termios tio{};
        return tcgetattr(replugged.slave(), &tio) == 0 && !(tio.c_lflag & ECHO);
      },
      std::chrono::seconds(5)));
  EXPECT_EQ(m_worker->reopens(), 1u);
  ASSERT_TRUE(replugged.Send(StationReport(2).substr(60) + StationReport(3)));
  ASSERT_TRUE(ReportsReach(2));
  EXPECT_EQ(m_table.count(), 2);
  EXPECT_EQ(m_table.slot(0).callsign, "JA1AA001");
  EXPECT_EQ(m_table.slot(1).callsign, "JA1AA003");
  const std::string map = Map();
  EXPECT_EQ(CountOf(map, "point pos="), 2);
  m_worker->Stop();  // also while reading from the new device
  for (char c : replugged.TakeSent()) EXPECT_TRUE(c == 0x11 || c == 0x13) << int(c);
}

TEST_F(ReceiveWorkerTest, StopDuringThePauseEndsTheWorker) {
  ASSERT_TRUE(m_worker->Start());
  m_pty.CloseMaster();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  m_worker->Stop();
  EXPECT_FALSE(m_port.IsOpen());  // the worker let go of the dead device
}

}  // namespace
}  // namespace rigplot
