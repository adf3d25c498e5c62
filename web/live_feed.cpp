#include "web/live_feed.h"

#include <utility>

namespace rigplot {

LiveFeed::LiveFeed(const StationTable& table, TableRenderer geojson, TableRenderer kml)
    : m_table(table), m_geojson(geojson), m_kml(kml) {
  std::scoped_lock tableLock(table.mutex());
  Refresh(table);
}

// One `data:` line per line of the text, so that a renderer that breaks its
// output into lines still gives one event.
void LiveFeed::AppendEvent(std::string& out, const std::string& json) {
  out += "event: stations\n";
  std::size_t start = 0;
  while (start <= json.size()) {
    std::size_t end = json.find('\n', start);
    if (end == std::string::npos) end = json.size();
    std::size_t stop = end;
    if (stop > start && json[stop - 1] == '\r') --stop;
    out += "data: ";
    out.append(json, start, stop - start);
    out += '\n';
    start = end + 1;
  }
  out += '\n';
}

void LiveFeed::Refresh(const StationTable& table) {
  auto snapshot = std::make_shared<FeedSnapshot>();
  {
    std::scoped_lock lock(m_lock);
    if (m_stopping) return;
    if (m_latest) {
      snapshot->geojson.reserve(m_latest->geojson.size() + 512);
      snapshot->event.reserve(m_latest->event.size() + 512);
    }
  }
  m_geojson(snapshot->geojson, table);
  AppendEvent(snapshot->event, snapshot->geojson);
  std::shared_ptr<const FeedSnapshot> old;
  {
    std::scoped_lock lock(m_lock);
    snapshot->version = m_nextVersion++;
    old = std::exchange(m_latest, std::move(snapshot));
  }
  m_changed.notify_all();
  // `old` is freed here, outside the lock, unless a client still sends it.
}

std::shared_ptr<const FeedSnapshot> LiveFeed::Latest() const {
  std::scoped_lock lock(m_lock);
  return m_latest;
}

std::shared_ptr<const FeedSnapshot> LiveFeed::WaitNewer(std::uint64_t seen,
                                                        std::chrono::milliseconds limit) const {
  std::unique_lock lock(m_lock);
  m_changed.wait_for(lock, limit, [&] { return m_stopping || m_latest->version > seen; });
  if (m_stopping || m_latest->version <= seen) return nullptr;
  return m_latest;
}

std::shared_ptr<const std::string> LiveFeed::Kml() {
  std::scoped_lock kmlLock(m_kmlLock);
  const std::uint64_t wanted = Latest()->version;
  if (m_kmlText && m_kmlVersion >= wanted) return m_kmlText;
  auto text = std::make_shared<std::string>();
  std::uint64_t version = 0;
  {
    std::scoped_lock tableLock(m_table.mutex());
    // Read under the table's lock: the snapshot and the table agree here.
    version = Latest()->version;
    m_kml(*text, m_table);
  }
  m_kmlText = std::move(text);
  m_kmlVersion = version;
  return m_kmlText;
}

void LiveFeed::Stop() {
  {
    std::scoped_lock lock(m_lock);
    m_stopping = true;
  }
  m_changed.notify_all();
}

bool LiveFeed::stopping() const {
  std::scoped_lock lock(m_lock);
  return m_stopping;
}

bool LiveFeedOutput::Publish(const StationTable& table, int /*slot*/, std::string& /*osError*/) {
  m_feed->Refresh(table);
  return true;
}

void LiveFeedOutput::TableCleared(const StationTable& table) {
  m_feed->Refresh(table);
}

void LiveFeedOutput::Close() {
  m_feed->Stop();
}

}  // namespace rigplot
