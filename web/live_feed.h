// SPDX-License-Identifier: MIT
// The live feed: the station table as the page shows it, kept by the receive
// worker and read by any number of page clients.
//
// Owns: a copy of the table's slots, fed with each change; a thread of its
// own that renders the copy (GeoJSON, and the same as one Server-Sent Events
// `stations` event) once per batch of changes; the latest snapshot; a KML
// rendering made on demand; the one wake call that tells a server of each
// new snapshot.
// Invariants: under the table's lock the worker only copies the stored report
// into a queue and wakes the feed's thread: it never renders for the page and
// never waits for a client. Clients hold the snapshot lock for a pointer copy
// and nothing more. A published snapshot never changes; versions only grow. A
// client that falls behind skips to the latest snapshot (each one is the
// whole table).
// Thread: Publish and Cleared from the thread holding the table's lock;
// everything else from any thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stations/station_output.h"
#include "stations/station_table.h"

namespace rigplot {

// Renders the whole table in one format. Caller holds the table's lock.
using TableRenderer = void (*)(std::string& out, const StationTable& table);

struct FeedSnapshot {
  std::uint64_t version = 0;
  std::string geojson;  // the FeatureCollection
  std::string event;    // "event: stations\ndata: ...\n\n"
};

class LiveFeed {
 public:
  // Copies the table as it is; takes its lock, so the caller must not hold it.
  LiveFeed(const StationTable& table, TableRenderer geojson, TableRenderer kml);
  ~LiveFeed();
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // The report just stored in `slot`; the table's lock is held.
  void Publish(const StationTable& table, int slot);
  // The table was just emptied; the table's lock is held.
  void Cleared();

  // For a table kept elsewhere (a hub's merged table): the next snapshot,
  // rendered by the caller, who never calls Publish. Any thread.
  void PublishRendered(std::string geojson, std::string kml);

  std::shared_ptr<const FeedSnapshot> Latest() const;

  // Called on the feed's thread after each new snapshot, for a server that
  // waits on sockets rather than on the feed; it must only post itself
  // somewhere and return. Empty to stop: once that call returns, `wake` is
  // never called again.
  void SetWake(std::function<void()> wake);

  // The latest snapshot's table as KML, rendered at most once per version.
  std::shared_ptr<const std::string> Kml();

  // Ends the feed's thread; nothing is published after it. Idempotent.
  void Stop();

 private:
  struct Change {
    int slot = -1;  // -1: the table was cleared
    int count = 0;  // the table's station count after the change
    StationRecord record;
  };

  static constexpr std::size_t kMaxPending = 1000;

  Change& NextChange();  // caller holds m_changesLock
  void Render();
  void RenderSnapshot();
  void Install(std::shared_ptr<FeedSnapshot> snapshot);
  static void AppendEvent(std::string& out, const std::string& json);

  TableRenderer m_geojson;
  TableRenderer m_kml;

  // The worker's side: changes not yet rendered. Held for a copy at most.
  std::mutex m_changesLock;
  std::condition_variable m_changesArrived;
  std::vector<Change> m_changes;  // the first m_changeCount are pending; the rest keep capacity
  std::size_t m_changeCount = 0;
  bool m_renderStop = false;

  // The feed thread's side: the table as last rendered, by slot.
  std::vector<Change> m_batch;
  std::size_t m_batchCount = 0;
  std::array<StationRecord, StationTable::kSlots> m_records;
  int m_recordCount = 0;
  std::mutex m_shadowLock;  // m_shadow, read by Kml()
  StationTable m_shadow;
  std::uint64_t m_shadowVersion = 0;
  std::shared_ptr<const std::string> m_kmlText;
  std::uint64_t m_kmlVersion = 0;

  // The clients' side.
  mutable std::mutex m_lock;
  std::shared_ptr<const FeedSnapshot> m_latest;
  std::uint64_t m_nextVersion = 1;
  bool m_stopping = false;

  std::mutex m_wakeLock;  // held while `m_wake` runs, so that SetWake waits it out
  std::function<void()> m_wake;

  std::mutex m_stopLock;
  std::thread m_thread;
};

// The feed as one of the radio link's outputs. Shares the feed with the page's
// server, so either may outlive the other.
class LiveFeedOutput : public StationOutput {
 public:
  LiveFeedOutput(std::shared_ptr<LiveFeed> feed, std::string name)
      : m_feed(std::move(feed)), m_name(std::move(name)) {}

  std::string name() const override { return m_name; }
  bool Publish(const StationTable& table, int slot, std::string& osError) override;
  void TableCleared(const StationTable& table) override;
  void Close() override;

 private:
  std::shared_ptr<LiveFeed> m_feed;
  std::string m_name;
};

}  // namespace rigplot
