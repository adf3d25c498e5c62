#include "stations/station_table.h"

#include "stations/station_view.h"

namespace rigplot {

struct StationTable::Views {
  std::array<StationView, kSlots> views;
  std::array<std::uint64_t, kSlots> readAt{};  // 0: never read
};

StationTable::StationTable() = default;
StationTable::~StationTable() = default;

const StationView& StationTable::view(int index) const {
  // Made at the first use: a table that feeds only the map script never decodes.
  if (!m_views) m_views = std::make_unique<Views>();
  const StationRecord& station = m_slots[index];
  if (m_views->readAt[index] != station.lastHeard) {
    BuildStationView(m_views->views[index], station);
    m_views->readAt[index] = station.lastHeard;
  }
  return m_views->views[index];
}

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

void StationTable::MirrorSlots(const StationRecord* records, int count) {
  m_stationCount = count < 0 ? 0 : count > kSlots ? kSlots : count;
  for (int i = 0; i < m_stationCount; ++i) {
    // A store number names one report of the other table.
    if (m_slots[i].lastHeard != records[i].lastHeard) m_slots[i] = records[i];
    if (records[i].lastHeard > m_storeSequence) m_storeSequence = records[i].lastHeard;
  }
}

}  // namespace rigplot
