// SPDX-License-Identifier: MIT
// The hub: takes reports from an MQTT broker instead of a radio and keeps
// them in a merged table (merged_table.h): GeoJSON and KML files rewritten,
// and the page's feed given, after each batch of reports; every report
// appended to the CSV log and handed to the history.
//
// Owns: the broker connection (the library's thread reads and merges), the
// merged table and a thread of its own that renders and writes, so that a
// slow disk or page never holds up the broker.
// Invariants: a payload that does not read is dropped and counted by kind,
// each kind said once to the sink; the receiver's own topics are ignored (a
// receiver merges what it hears through Merge instead).
// Close is bounded and may be called any number of times.
// Thread: the front end's; counts from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mqtt/hub_report.h"
#include "mqtt/merged_table.h"
#include "mqtt/mqtt_settings.h"
#include "radio/radio_link.h"

namespace rigplot {

struct HubSettings {
  std::vector<std::string> filters;  // --subscribe, e.g. rigplot/+/report
  std::size_t stations = MergedTable::kDefaultCapacity;
  std::string geojsonPath;  // empty for none
  std::string kmlPath;      // empty for none
  std::string logDir;       // empty for none
  // After each batch, on the hub's writer thread: the table as GeoJSON and KML.
  std::function<void(std::string geojson, std::string kml)> rendered;
  // Every report merged from the broker, with its receiver, on the
  // connection's thread: it queues and returns, never waits on a disk. False
  // with the reason while it fails, said once per change under `historyName`.
  std::function<bool(const HubReport& report, std::string& error)> history;
  std::string historyName;
};

struct HubCounts {
  std::uint64_t merged = 0;
  std::array<std::uint64_t, static_cast<int>(HubDrop::kCount)> dropped{};
  std::size_t stations = 0;
};

class Hub {
 public:
  virtual ~Hub() = default;
  virtual HubCounts counts() const = 0;
  // What the journal and the page say about the output files.
  virtual std::vector<OutputHealth> outputs() const = 0;
  // A report this receiver stored itself, merged as the others' are. Copies
  // and returns: the receive worker calls it.
  virtual void Merge(const StationView& view) = 0;
  // After log rotation: the day log is opened again under its name.
  virtual void Reopen() = 0;
  // Empties the merged table; the files and the page follow.
  virtual void Clear() = 0;
  virtual void Close() = 0;
};

// True when a report on `topic` is one for the hub: rigplot/R/report or
// rigplot/R/station/CALL from a receiver other than `self` (empty: none).
bool IsHubTopic(std::string_view topic, std::string_view self);

// yymmddhhmmss from ddmmyy and hhmmss, ordered by time; 0 when they do not read.
std::uint64_t HubFixKey(const std::string& utcDate, const std::string& utcTime);

// Connects in the background and subscribes; null with `error` when it
// cannot be made.
std::unique_ptr<Hub> StartHub(const MqttSettings& mqtt, const std::string& password,
                              const HubSettings& settings, LinkEventSink sink, std::string& error);

}  // namespace rigplot
