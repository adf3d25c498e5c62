// The live feed: the station table as the page shows it, refreshed by the
// receive worker and read by any number of page clients.
//
// Owns: the latest snapshot (the GeoJSON FeatureCollection and the same as one
// Server-Sent Events `stations` event), rendered once per change, and a KML
// rendering made on demand.
// Invariants: a snapshot never changes once published; versions only grow.
// The worker renders under the table's lock and then only swaps a pointer under
// the feed's own lock, which clients hold for nothing longer than a pointer
// copy: no client, however slow, can make the worker wait. A client that falls
// behind skips to the latest snapshot (each one is the whole table).
// Thread: Refresh from the thread holding the table's lock; everything else
// from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

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
  LiveFeed(const StationTable& table, TableRenderer geojson, TableRenderer kml);
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // The table changed (a report or a clear). Caller holds the table's lock.
  void Refresh(const StationTable& table);

  std::shared_ptr<const FeedSnapshot> Latest() const;

  // A snapshot newer than `seen`, waiting up to `limit` for one; null when the
  // limit passed or the feed is stopping.
  std::shared_ptr<const FeedSnapshot> WaitNewer(std::uint64_t seen,
                                                std::chrono::milliseconds limit) const;

  // The table as KML, rendered at most once per version. Takes the table's
  // lock for the rendering only (no client I/O under it).
  std::shared_ptr<const std::string> Kml();

  // Wakes every waiting client for good; nothing is published after it.
  void Stop();
  bool stopping() const;

 private:
  static void AppendEvent(std::string& out, const std::string& json);

  const StationTable& m_table;
  TableRenderer m_geojson;
  TableRenderer m_kml;

  mutable std::mutex m_lock;  // guards the fields below, held only briefly
  mutable std::condition_variable m_changed;
  std::shared_ptr<const FeedSnapshot> m_latest;
  std::uint64_t m_nextVersion = 1;
  bool m_stopping = false;

  std::mutex m_kmlLock;  // one KML rendering at a time
  std::shared_ptr<const std::string> m_kmlText;
  std::uint64_t m_kmlVersion = 0;
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
