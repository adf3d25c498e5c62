// SPDX-License-Identifier: MIT
// The station table: the latest report of every station heard, keyed by callsign.
//
// Owns: 100 slots in order of first appearance and the count of used slots.
// Invariants: used slots have pairwise different callsigns (compared byte for
// byte); a station keeps its slot until Clear; nothing is written past slot 99.
// A 101st distinct callsign takes the slot of the station heard longest ago.
// Thread: every caller holds mutex() around StoreReport, Clear and every read;
// the worker keeps it from a store through the outputs that follow it, so a
// clear falls wholly before or wholly after a store-and-rewrite.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "report/report_parser.h"

namespace rigplot {

struct StationRecord : PendingReport {
  std::uint64_t lastHeard = 0;  // store sequence number of the latest report
};

struct StationView;

class StationTable {
 public:
  static constexpr int kSlots = 100;

  StationTable();
  ~StationTable();

  // Updates the slot with the report's callsign, or takes a new one, and
  // returns that slot's index. Caller holds mutex().
  int StoreReport(const PendingReport& report);

  // Empties the table; the slots' texts stay but are no longer read.
  // Caller holds mutex().
  void Clear();

  // Makes this table a copy of another's first `count` slots, slot for slot,
  // store numbers included; a slot whose report is unchanged keeps its
  // decoded view. For a copy rendered on a thread of its own (the live
  // feed). Caller holds mutex().
  void MirrorSlots(const StationRecord* records, int count);

  int count() const { return m_stationCount; }
  // The count as the last store or clear left it; any thread, no lock.
  int publishedCount() const { return m_publishedCount.load(std::memory_order_relaxed); }
  const StationRecord& slot(int index) const { return m_slots[index]; }

  // The slot's report decoded for the open formats (station_view.h), read
  // at the first call after each store and kept. Caller holds mutex().
  const StationView& view(int index) const;

  std::mutex& mutex() const { return m_lock; }

 private:
  void copyInto(StationRecord& slot, const PendingReport& report);

  std::array<StationRecord, kSlots> m_slots;
  // Decoded on demand, with the lastHeard each view was read at.
  struct Views;
  mutable std::unique_ptr<Views> m_views;
  int m_stationCount = 0;
  std::atomic<int> m_publishedCount{0};
  std::uint64_t m_storeSequence = 0;
  mutable std::mutex m_lock;
};

}  // namespace rigplot
