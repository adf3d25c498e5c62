#include "stations/station_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "stations/station_view.h"
#include "tests/support/stations.h"

namespace rigplot {
namespace {

using test::Store;

PendingReport Heard(const std::string& callsign, const std::string& message = "hi") {
  PendingReport r = test::Station(callsign.c_str(), "0", "90", "10");
  r.message = message;
  std::strcpy(r.receivedAt, "26/12/07 21:23:45");
  return r;
}

TEST(StationTableTest, SameCallsignUpdatesItsSlotInPlace) {
  StationTable table;
  Store(table, Heard("JA1ABC", "first"));
  Store(table, Heard("JH1XYZ", "other"));
  PendingReport again = Heard("JA1ABC", "second");
  again.symbol = "12";
  again.speedKnots = "";
  std::strcpy(again.receivedAt, "26/12/07 21:30:00");
  Store(table, again);

  ASSERT_EQ(table.count(), 2);
  EXPECT_EQ(table.slot(0).callsign, "JA1ABC");
  EXPECT_EQ(table.slot(0).message, "second");
  EXPECT_EQ(table.slot(0).symbol, "12");
  EXPECT_EQ(table.slot(0).speedKnots, "");
  EXPECT_STREQ(table.slot(0).receivedAt, "26/12/07 21:30:00");
  EXPECT_EQ(table.slot(1).message, "other");
}

TEST(StationTableTest, KeysAreCompareByteForByte) {
  StationTable table;
  for (const char* call : {"JA1ABC", "ja1abc", "JA1ABC ", " JA1ABC", ""}) Store(table, Heard(call));
  EXPECT_EQ(table.count(), 5);
  Store(table, Heard(""));  // an empty callsign is a key like any other
  EXPECT_EQ(table.count(), 5);
}

TEST(StationTableTest, ReceivedAtIsCopiedWhole) {
  StationTable table;
  PendingReport r = Heard("A");
  std::memcpy(r.receivedAt, "00/00/00 00:00:00", 18);
  Store(table, r);
  EXPECT_EQ(std::memcmp(table.slot(0).receivedAt, r.receivedAt, 18), 0);
}

TEST(StationTableTest, HundredthStationFillsTheLastSlot) {
  StationTable table;
  for (int i = 0; i < 100; ++i) Store(table, Heard("S" + std::to_string(i)));
  EXPECT_EQ(table.count(), 100);
  EXPECT_EQ(table.slot(99).callsign, "S99");
}

TEST(StationTableTest, HundredAndFirstTakesTheSlotHeardLongestAgo) {
  StationTable table;
  for (int i = 0; i < 100; ++i) Store(table, Heard("S" + std::to_string(i)));
  Store(table, Heard("S0", "still here"));  // S1 is now the oldest
  Store(table, Heard("NEW1"));
  ASSERT_EQ(table.count(), 100);
  EXPECT_EQ(table.slot(0).callsign, "S0");
  EXPECT_EQ(table.slot(1).callsign, "NEW1");
  Store(table, Heard("NEW2"));  // then S2
  EXPECT_EQ(table.slot(2).callsign, "NEW2");
  Store(table, Heard("NEW1", "update"));  // a known station updates, evicts nobody
  EXPECT_EQ(table.slot(1).message, "update");
  EXPECT_EQ(table.slot(3).callsign, "S3");
  EXPECT_EQ(table.count(), 100);
}

TEST(StationTableTest, ClearThenStoreStartsAtSlotZero) {
  StationTable table;
  Store(table, Heard("A"));
  Store(table, Heard("B"));
  test::Clear(table);
  EXPECT_EQ(table.count(), 0);
  Store(table, Heard("B", "back"));
  ASSERT_EQ(table.count(), 1);
  EXPECT_EQ(table.slot(0).callsign, "B");
  EXPECT_EQ(table.slot(0).message, "back");
}

// The worker holds the lock around a store and the rewrite that reads the
// table after it; a clear from another thread must land wholly outside.
TEST(StationTableTest, ClearNeverFallsInsideAStoreAndRewrite) {
  StationTable table;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread worker([&] {
    for (int i = 0; i < 20000; ++i) {
      std::scoped_lock lock(table.mutex());
      table.StoreReport(Heard("S" + std::to_string(i % 150)));
      const int seen = table.count();
      std::this_thread::yield();  // give a stray clear its chance
      if (table.count() != seen || seen == 0) torn.fetch_add(1);
    }
    done = true;
  });
  int clears = 0;
  while (!done) {
    test::Clear(table);
    ++clears;
  }
  worker.join();
  EXPECT_GT(clears, 0);
  EXPECT_EQ(torn.load(), 0);
}

// The decoded view follows every store, in the table and in a mirror of it
// (the live feed's copy), through updates, a clear and a reused slot.
TEST(StationTableTest, ViewsFollowStoresAndMirrors) {
  StationTable table;
  StationTable mirror;
  std::scoped_lock lock(table.mutex(), mirror.mutex());
  auto messages = [](const StationTable& t) {
    std::string seen;
    for (int i = 0; i < t.count(); ++i) seen += t.view(i).callsign + "=" + t.view(i).message + " ";
    return seen;
  };
  const char* steps[][2] = {{"JA1ABC", "first"},
                            {"JH1XYZ", "other"},
                            {"JA1ABC", "second"},
                            {nullptr, nullptr},
                            {"JE1NEW", "after"}};
  const char* want[] = {"JA1ABC=first ", "JA1ABC=first JH1XYZ=other ",
                        "JA1ABC=second JH1XYZ=other ", "", "JE1NEW=after "};
  for (int step = 0; step < 5; ++step) {
    if (steps[step][0] == nullptr) {
      table.Clear();
    } else {
      table.StoreReport(Heard(steps[step][0], steps[step][1]));
    }
    EXPECT_EQ(messages(table), want[step]) << step;
    mirror.MirrorSlots(&table.slot(0), table.count());
    EXPECT_EQ(messages(mirror), want[step]) << step;
  }
}

}  // namespace
}  // namespace rigplot
