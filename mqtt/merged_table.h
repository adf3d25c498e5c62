// SPDX-License-Identifier: MIT
// A hub's merged table: the newest report of every station any receiver
// heard, keyed by callsign, with the receivers that heard it.
//
// Owns: up to `capacity` stations in order of first appearance.
// Invariants: callsigns are pairwise different (byte for byte); a station
// shows the report with the latest fix time, and among equal fix times the
// one that arrived last; its receivers are listed once each, in the order
// they first heard it, each with its latest report's time. A station beyond
// the capacity takes the place of the one heard longest ago.
// Thread: the caller holds one lock around every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "mqtt/hub_report.h"

namespace rigplot {

struct HeardBy {
  std::string receiver;
  std::string when;  // the receiver's received_at, ISO 8601; empty when unknown
};

struct MergedStation {
  HubReport report;             // the newest, as above
  std::uint64_t arrival = 0;    // store number of that report
  std::uint64_t lastHeard = 0;  // store number of the latest report, newest or not
  std::vector<HeardBy> receivers;
};

class MergedTable {
 public:
  static constexpr std::size_t kDefaultCapacity = 1000;

  explicit MergedTable(std::size_t capacity = kDefaultCapacity);

  // Merges one report; returns the station's index.
  std::size_t Store(const HubReport& report);
  void Clear();

  std::size_t count() const { return m_stations.size(); }
  std::size_t capacity() const { return m_capacity; }
  const MergedStation& station(std::size_t index) const { return m_stations[index]; }

 private:
  std::size_t m_capacity;
  std::vector<MergedStation> m_stations;  // room for m_capacity, never moved
  std::unordered_map<std::string, std::size_t> m_index;
  std::uint64_t m_storeSequence = 0;
};

// The merged table as a GeoJSON FeatureCollection: each station's Feature as
// a receiver publishes it, its "receiver" the one of the newest report, and
// "receivers": [{"receiver": NAME, "heard": ISO or null}, ...].
void RenderMergedGeoJson(std::string& out, const MergedTable& table);

// The merged table as KML; each description ends in the receivers that
// heard the station, with when.
void RenderMergedKml(std::string& out, const MergedTable& table);

}  // namespace rigplot
