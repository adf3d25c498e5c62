// SPDX-License-Identifier: MIT
// A busy channel for a long while, squeezed: rigplot-sim at full speed with
// 100 stations into rigplotd, a reader re-reading the map script all the
// while. The reader must only ever see whole files, no report may be lost
// or garbled, and rigplotd's resident memory must stay flat once warm.
// RIGPLOT_SOAK_SECONDS sets the length (default 45).
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/map_script.h"
#include "tests/support/nmea.h"
#include "tests/support/wait.h"
#include "tools/sim_stream.h"

namespace rigplot {
namespace {

constexpr std::uint64_t kSeed = 4242;
constexpr int kStations = 100;

long ResidentKb(pid_t pid) {
  const std::string status = test::ReadWholeFile("/proc/" + std::to_string(pid) + "/status");
  const std::size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// What rigplotd's table must hold after `reports` reports of the simulator's
// stream: the same seeded stream through the parser and a table.
std::string ExpectedAfter(std::uint64_t reports) {
  SimOptions options;
  options.seed = kSeed;
  options.stations = kStations;
  SimStream stream(options);
  ReportParser parser(&test::FixedClock);
  StationTable table;
  std::string chunk;
  for (std::uint64_t stored = 0; stored < reports;) {
    chunk.clear();
    stream.AppendNext(chunk);
    for (std::size_t i = 0; i < chunk.size() && stored < reports; ++i) {
      if (!parser.feedByte(static_cast<std::uint8_t>(chunk[i]))) continue;
      std::scoped_lock lock(table.mutex());
      table.StoreReport(parser.report());
      ++stored;
    }
  }
  return test::MaskedMapScript(table);
}

TEST(Soak, FullSpeedHundredStations) {
  const char* length = std::getenv("RIGPLOT_SOAK_SECONDS");
  const int seconds = length != nullptr ? std::atoi(length) : 45;
  const int warmUp = std::min(5, seconds / 3);
  test::TempDir dir;
  test::ChildProcess sim({RIGPLOT_BIN_DIR "/rigplot-sim", "--seed", std::to_string(kSeed),
                          "--stations", std::to_string(kStations), "--fast"},
                         dir.path(), dir / "sim.log");
  ASSERT_TRUE(sim.WaitForOutput("\n"));
  const std::string port = sim.Output().substr(0, sim.Output().find('\n'));
  test::WriteWholeFile(dir / "RIGPLOT.ini", port + " 19200\n");
  test::ChildProcess daemon({RIGPLOT_BIN_DIR "/rigplotd", "--web", "off"}, dir.path(),
                            dir / "rigplotd.log");
  ASSERT_TRUE(daemon.WaitForOutput("listening"));

  const std::string map = dir / "0.mps";
  std::atomic<bool> done{false};
  std::atomic<long> wholeReads{0};
  std::string firstBroken;  // read after the join
  std::thread reader([&] {
    while (!done.load()) {
      const std::string file = test::ReadWholeFile(map);
      if (file.empty() && wholeReads.load() == 0) continue;  // not written yet
      if (!test::IsWholeMapScript(file)) {
        firstBroken = file.empty() ? "(missing)" : file;
        return;
      }
      ++wholeReads;
    }
  });

  long warmKb = 0;
  long peakKb = 0;
  for (int second = 1; second <= seconds; ++second) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long kb = ResidentKb(daemon.pid());
    if (second == warmUp) warmKb = kb;
    if (second > warmUp) peakKb = std::max(peakKb, kb);
  }

  // Hold the radio, let rigplotd read what is on the line, then stop it.
  sim.Signal(SIGSTOP);
  std::string last;
  while (test::ReadWholeFile(map) != last) {
    last = test::ReadWholeFile(map);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  done = true;
  reader.join();
  daemon.Signal(SIGTERM);
  ASSERT_EQ(daemon.Wait(), 0) << daemon.Output();

  const std::string log = daemon.Output();
  const std::size_t at = log.find("stopped after ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::uint64_t reports = std::strtoull(log.c_str() + at + 14, nullptr, 10);
  std::printf("%llu reports in %d s, %ld whole reads, resident %ld kB warm, %ld kB peak\n",
              static_cast<unsigned long long>(reports), seconds, wholeReads.load(), warmKb, peakKb);
  EXPECT_EQ(firstBroken, "");
  EXPECT_GT(wholeReads.load(), 0);
  EXPECT_GT(reports, 100u * static_cast<unsigned>(seconds));
  EXPECT_EQ(
      test::FirstDifference(test::MaskMapScript(test::ReadWholeFile(map)), ExpectedAfter(reports)),
      "");
  EXPECT_GT(warmKb, 0);
#ifndef __SANITIZE_ADDRESS__  // its quarantine holds freed memory back on purpose
  EXPECT_LE(peakKb, warmKb + 64) << "rigplotd's memory grows";
#endif
}

}  // namespace
}  // namespace rigplot
