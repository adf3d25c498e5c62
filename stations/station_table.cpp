#include "stations/station_table.h"

namespace rigplot {

void StationTable::copyInto(StationRecord& slot, const PendingReport& report) {
  // Assignment reuses each slot's string capacity: no allocation once warm.
  static_cast<PendingReport&>(slot) = report;
  slot.lastHeard = ++m_storeSequence;
}

int StationTable::StoreReport(const PendingReport& report) {
  for (int i = 0; i < m_stationCount; ++i) {
    if (m_slots[i].callsign == report.callsign) {
      copyInto(m_slots[i], report);
      return i;
    }
  }
  if (m_stationCount < kSlots) {
    copyInto(m_slots[m_stationCount], report);
    m_publishedCount.store(m_stationCount + 1, std::memory_order_relaxed);
    return m_stationCount++;
  }
  // Full: the station heard longest ago gives up its slot.
  int oldest = 0;
  for (int i = 1; i < kSlots; ++i) {
    if (m_slots[i].lastHeard < m_slots[oldest].lastHeard) oldest = i;
  }
  copyInto(m_slots[oldest], report);
  return oldest;
}

void StationTable::Clear() {
  m_stationCount = 0;
  m_publishedCount.store(0, std::memory_order_relaxed);
}

}  // namespace rigplot
