#include "radio/receive_worker.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "radio/radio_link.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/thread_cpu.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

using test::CountOf;
using test::Pty;
using test::TempDir;
using test::WaitFor;

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

// The radio link of one run: a pty for the radio, the link on its slave,
// TEMP pointing at a fresh directory for the map script, and the lines the
// link says kept for the test.
class ReceiveWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pty.ok());
    ::setenv("TEMP", m_dir.path().c_str(), 1);
    OpenOn(m_pty.path());
  }
  void OpenOn(const std::string& path) {
    m_link = std::make_unique<RadioLink>([this](const std::string& line) {
      {
        std::lock_guard<std::mutex> lock(m_linesLock);
        m_lines.push_back(line);
      }
      PassGate();  // a held gate stands for a full stderr pipe
    });
    const LinkResult opened = m_link->Open(PortConfig{path, 9600});
    ASSERT_TRUE(opened) << opened.osError;
  }
  void TearDown() override {
    HoldGate(false);
    m_link.reset();
    // The program never writes to the radio: at most flow-control bytes.
    for (char c : m_pty.TakeSent()) EXPECT_TRUE(c == 0x11 || c == 0x13) << int(c);
  }
  void Start() { ASSERT_TRUE(m_link->Start()); }

  // Queues the bytes on the line while the worker is not reading yet.
  void Queue(const std::string& bytes) {
    ASSERT_TRUE(m_pty.Send(bytes));
    ASSERT_TRUE(WaitFor(
        std::to_string(bytes.size()) + " bytes queued on the line",
        [&] { return m_pty.SlaveQueued() == static_cast<int>(bytes.size()); },
        [&] { return std::to_string(m_pty.SlaveQueued()); }));
  }

  std::string Map() const { return test::ReadWholeFile(m_dir / "0.mps"); }
  ::testing::AssertionResult ReportsReach(std::uint64_t n) {
    return WaitFor(
        std::to_string(n) + " reports stored", [&] { return m_link->reportsStored() >= n; },
        [&] { return std::to_string(m_link->reportsStored()) + " stored\n" + AllLines(); });
  }
  // Blocks read so far, and bytes still waiting on the line.
  std::string Reading() {
    return std::to_string(m_link->blocksRead()) + " blocks read, " +
           std::to_string(m_pty.SlaveQueued()) + " bytes queued";
  }
  void HoldGate(bool held) {
    {
      std::lock_guard<std::mutex> lock(m_linesLock);
      m_gateHeld = held;
    }
    m_gateOpen.notify_all();
  }
  void PassGate() {
    std::unique_lock<std::mutex> lock(m_linesLock);
    m_gateOpen.wait(lock, [this] { return !m_gateHeld; });
  }
  // An output that waits at the gate, as a log on a stalled disk does.
  struct GatedOutput : StationOutput {
    explicit GatedOutput(ReceiveWorkerTest& test) : test(test) {}
    std::string name() const override { return "gated"; }
    bool Publish(const StationTable&, int, std::string&) override {
      test.PassGate();
      return true;
    }
    ReceiveWorkerTest& test;
  };
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(m_linesLock);
    return m_lines;
  }
  std::string AllLines() {
    std::string all;
    for (const auto& line : Lines()) all += line + "\n";
    return all;
  }
  int Count() {
    std::lock_guard<std::mutex> lock(m_link->table().mutex());
    return m_link->table().count();
  }
  std::string CallsignAt(int slot) {
    std::lock_guard<std::mutex> lock(m_link->table().mutex());
    return m_link->table().slot(slot).callsign;
  }

  Pty m_pty;
  TempDir m_dir;
  std::mutex m_linesLock;
  std::vector<std::string> m_lines;
  std::condition_variable m_gateOpen;
  bool m_gateHeld = false;
  std::unique_ptr<RadioLink> m_link;
};

TEST_F(ReceiveWorkerTest, ReportSplitOverThreeReadsCompletesOnItsLastByte) {
  Start();
  const std::string report = StationReport(1);
  ASSERT_TRUE(m_pty.Send(report.substr(0, 40)));
  ASSERT_TRUE(WaitFor(
      "the first piece read", [&] { return m_link->blocksRead() >= 1 && m_pty.SlaveQueued() == 0; },
      [&] { return Reading(); }));
  ASSERT_TRUE(m_pty.Send(report.substr(40, 35)));
  ASSERT_TRUE(WaitFor(
      "the second piece read",
      [&] { return m_link->blocksRead() >= 2 && m_pty.SlaveQueued() == 0; },
      [&] { return Reading(); }));
  EXPECT_EQ(m_link->reportsStored(), 0u);
  ASSERT_TRUE(m_pty.Send(report.substr(75)));
  ASSERT_TRUE(ReportsReach(1));
  EXPECT_EQ(m_link->mapScriptPath(), m_dir / "0.mps");
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
  Start();
  ASSERT_TRUE(ReportsReach(7));
  EXPECT_EQ(m_link->blocksRead(), 2u);
  EXPECT_EQ(Count(), 7);
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
  Start();
  ASSERT_TRUE(ReportsReach(2));
  EXPECT_EQ(m_link->blocksRead(), 1u);
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(CallsignAt(0), "JA1AA001");
  EXPECT_EQ(CallsignAt(1), "JA1AA002");
  EXPECT_EQ(CountOf(Map(), "point pos="), 2);
}

TEST_F(ReceiveWorkerTest, StopWhileIdleEndsTheWorkerAndClosesThePort) {
  Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(m_link->Stop());
  EXPECT_TRUE(m_link->worker()->stopRequested());
  EXPECT_FALSE(m_link->port().IsOpen());
  EXPECT_TRUE(m_link->Stop());  // a second stop is harmless
  EXPECT_EQ(m_link->blocksRead(), 0u);
  EXPECT_FALSE(m_link->Start()) << "a stopped link starts no worker";
}

// A pulled cable: the worker rests instead of spinning, keeps the table and
// the map, and carries on once the device is back under the same name.
TEST_F(ReceiveWorkerTest, HangUpPausesThenReopensWhenTheDeviceIsBack) {
  const std::string link = m_dir / "radio";
  std::filesystem::create_symlink(m_pty.path(), link);
  OpenOn(link);
  Start();
  // Half a report before the break must not join half of one after it.
  ASSERT_TRUE(m_pty.Send(StationReport(1) + StationReport(2).substr(0, 60)));
  ASSERT_TRUE(ReportsReach(1));
  ASSERT_TRUE(WaitFor(
      "the line read empty", [&] { return m_pty.SlaveQueued() == 0; }, [&] { return Reading(); }));

  // The device goes away: the link names nothing while the cable is out.
  m_pty.CloseMaster();
  m_pty.CloseSlave();
  const std::string gone = link + ".gone";
  std::filesystem::create_symlink(m_dir / "absent", gone);
  std::filesystem::rename(gone, link);
  const auto cpuMs = [&] { return test::ThreadCpuUs(m_link->worker()->nativeHandle()) / 1e3; };
  const double cpuBefore = cpuMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(2200));
  const double cpuSpent = cpuMs() - cpuBefore;
  EXPECT_GT(cpuBefore, 0) << "the worker's clock cannot be read";
  EXPECT_LT(cpuSpent, 50) << "the worker spins while the device is gone";
  EXPECT_EQ(m_link->reopens(), 0u);

  Pty replugged;
  ASSERT_TRUE(replugged.ok());
  const std::string fresh = link + ".new";
  std::filesystem::create_symlink(replugged.path(), fresh);
  std::filesystem::rename(fresh, link);
  ASSERT_TRUE(WaitFor(
      "the device reopened", [&] { return m_link->reopens() >= 1; },
      [&] { return std::to_string(m_link->reopens()) + " reopens\n" + AllLines(); }));
  EXPECT_EQ(m_link->reopens(), 1u);
  termios tio{};
  ASSERT_EQ(tcgetattr(replugged.slave(), &tio), 0);
  EXPECT_FALSE(tio.c_lflag & ECHO) << "the reopened line is not raw";
  ASSERT_TRUE(replugged.Send(StationReport(2).substr(60) + StationReport(3)));
  ASSERT_TRUE(ReportsReach(2));
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(CallsignAt(0), "JA1AA001");
  EXPECT_EQ(CallsignAt(1), "JA1AA003");
  const std::string map = Map();
  EXPECT_EQ(CountOf(map, "point pos="), 2);
  // One line when the cable went, one when it came back.
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << AllLines();
  EXPECT_EQ(lines[0].rfind("adapter gone from " + link + ": ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "adapter back on " + link);
  m_link->Stop();  // also while reading from the new device
  for (char c : replugged.TakeSent()) EXPECT_TRUE(c == 0x11 || c == 0x13) << int(c);
}

TEST_F(ReceiveWorkerTest, StopDuringThePauseEndsTheWorker) {
  Start();
  m_pty.CloseMaster();
  ASSERT_TRUE(WaitFor(
      "the adapter missed", [&] { return !m_link->adapterPresent(); }, [&] { return AllLines(); }));
  EXPECT_FALSE(m_link->port().IsOpen());  // the worker let go of the dead device
  EXPECT_TRUE(m_link->Stop(std::chrono::seconds(30)));
}

// A map folder that cannot be written: one line for the fault however many
// reports meet it, one when it is back, and no report lost from the table.
TEST_F(ReceiveWorkerTest, AFailingOutputIsSaidOnceAndCatchesUpWhenItWorksAgain) {
  const std::filesystem::path folder = m_dir / "maps";
  ::setenv("TEMP", folder.c_str(), 1);
  Start();
  for (int n = 1; n <= 5; ++n) ASSERT_TRUE(m_pty.Send(StationReport(n)));
  ASSERT_TRUE(ReportsReach(5));
  auto lines = Lines();
  ASSERT_EQ(lines.size(), 1u) << AllLines();
  EXPECT_EQ(lines[0], "cannot write " + (folder / "0.mps").string() + ": " + std::strerror(ENOENT));
  ASSERT_FALSE(m_link->status().outputs.at(0).working);

  std::filesystem::create_directory(folder);
  ASSERT_TRUE(m_pty.Send(StationReport(6)));
  ASSERT_TRUE(ReportsReach(6));
  lines = Lines();
  ASSERT_EQ(lines.size(), 2u) << AllLines();
  EXPECT_EQ(lines[1], "writing " + (folder / "0.mps").string() + " again");
  EXPECT_EQ(CountOf(test::ReadWholeFile(folder / "0.mps"), "point pos="), 6);
  EXPECT_TRUE(m_link->status().outputs.at(0).working);
}

// A worker stuck in an output or outside the table's lock (its "adapter gone"
// line to a full stderr pipe): the watchdog's check calls it stuck, the status
// and a clear still answer at once, a stop gives up within its limit, and all
// ends (the clear done) once the worker moves again.
TEST_F(ReceiveWorkerTest, AStuckWorkerIsSeenAndHoldsNeitherStatusNorStop) {
  for (const bool inOutput : {true, false}) {
    SCOPED_TRACE(inOutput ? "stuck in an output" : "stuck saying the adapter is gone");
    Pty radio;
    ASSERT_TRUE(radio.ok());
    OpenOn(radio.path());
    m_link->AddOutput(std::make_unique<GatedOutput>(*this));
    HoldGate(true);
    Start();
    EXPECT_FALSE(m_link->workerStuck()) << "a worker at rest is not stuck";
    if (inOutput) {
      ASSERT_TRUE(radio.Send(StationReport(1)));
    } else {
      radio.CloseMaster();
    }
    EXPECT_TRUE(WaitFor(
        "the worker called stuck", [&] { return m_link->workerStuck(); },
        [&] { return AllLines(); }));

    auto status = std::async(std::launch::async, [&] { return m_link->status(); });
    EXPECT_EQ(status.wait_for(test::kPatience), std::future_status::ready)
        << "the status waits on the worker";
    auto clear = std::async(std::launch::async, [&] { m_link->ClearTable(); });
    EXPECT_EQ(clear.wait_for(test::kPatience), std::future_status::ready)
        << "the clear waits on the worker";
    EXPECT_FALSE(m_link->Stop(std::chrono::milliseconds(50)));
    HoldGate(false);
    EXPECT_EQ(status.get().stations, inOutput ? 1 : 0);
    EXPECT_TRUE(m_link->Stop(test::kPatience));
    EXPECT_FALSE(m_link->workerStuck());
    EXPECT_EQ(m_link->status().stations, 0);
  }
}

}  // namespace
}  // namespace rigplot
