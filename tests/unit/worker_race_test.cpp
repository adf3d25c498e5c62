// SPDX-License-Identifier: MIT
// The worker at full speed while other threads clear the table, read it and
// finally stop it in mid-stream. Meant for the ThreadSanitizer build too,
// which sees any access that the table's lock does not order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "radio/radio_link.h"
#include "tests/support/files.h"
#include "tests/support/nmea.h"
#include "tests/support/pty.h"
#include "tests/support/wait.h"

namespace rigplot {
namespace {

// 150 stations in turn, so the full table evicts as well.
std::string Reports(int first, int count) {
  std::string bytes;
  for (int n = first; n < first + count; ++n) {
    char body[96];
    std::snprintf(body, sizeof body,
                  "GPRMC,0123%02d,A,3539.%04d,N,13945.6789,E,010.0,%03d.0,071226,,,A", n % 60,
                  n % 10000, n % 360);
    bytes += test::Report(body, "JA1R" + std::to_string(n % 150) + ",  race");
  }
  return bytes;
}

TEST(WorkerRace, ClearsAndAStopRaceTheStoresAndRewrites) {
  test::Pty pty;
  test::TempDir dir;
  ASSERT_TRUE(pty.ok());
  ::setenv("TEMP", dir.path().c_str(), 1);
  ASSERT_EQ(::fcntl(pty.master(), F_SETFL, ::fcntl(pty.master(), F_GETFL) | O_NONBLOCK), 0);
  RadioLink link;
  ASSERT_TRUE(link.Open(PortConfig{pty.path(), 19200}));
  ASSERT_TRUE(link.Start());
  const StationTable& table = link.table();

  std::atomic<bool> radioOn{true};
  std::thread radio([&] {
    for (int n = 0; radioOn.load(); n += 20) {
      const std::string bytes = Reports(n, 20);
      for (std::size_t at = 0; at < bytes.size() && radioOn.load();) {
        const ssize_t put = ::write(pty.master(), bytes.data() + at, bytes.size() - at);
        if (put > 0) at += static_cast<std::size_t>(put);
        if (put < 0 && errno == EAGAIN) std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  });

  // A rewrite that a clear got into would leave a map with no station.
  // At least 1.5 s of racing, and then until enough clears and stores have
  // met, however slow the machine (a sanitizer build beside other work).
  constexpr int kEnough = 200;
  int clears = 0;
  int emptyMaps = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto raced = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (now - start > test::kPatience) return true;
    return now - start > std::chrono::milliseconds(1500) && clears >= kEnough &&
           link.reportsStored() >= kEnough;
  };
  while (!raced()) {
    link.ClearTable();
    ++clears;
    {
      std::scoped_lock lock(table.mutex());
      EXPECT_LE(table.count(), StationTable::kSlots);
    }
    const std::string map = test::ReadWholeFile(dir / "0.mps");
    if (map.find("message str=\" 0 ") != std::string::npos) ++emptyMaps;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  EXPECT_TRUE(link.Stop());  // while the radio still sends
  radioOn = false;
  radio.join();
  EXPECT_GE(clears, kEnough);
  EXPECT_GE(link.reportsStored(), static_cast<std::uint64_t>(kEnough));
  EXPECT_EQ(emptyMaps, 0);
}

}  // namespace
}  // namespace rigplot
