#include "web/live_feed.h"

#include <utility>

namespace rigplot {

LiveFeed::LiveFeed(const StationTable& table, TableRenderer geojson, TableRenderer kml)
    : m_geojson(geojson), m_kml(kml) {
  {
    std::scoped_lock tableLock(table.mutex());
    m_recordCount = table.count();
    for (int i = 0; i < m_recordCount; ++i) m_records[i] = table.slot(i);
  }
  RenderSnapshot();
  m_thread = std::thread([this] { Render(); });
}

LiveFeed::~LiveFeed() {
  Stop();
}

LiveFeed::Change& LiveFeed::NextChange() {
  if (m_changeCount == m_changes.size()) m_changes.emplace_back();
  return m_changes[m_changeCount++];
}

void LiveFeed::Publish(const StationTable& table, int slot) {
  {
    std::scoped_lock lock(m_changesLock);
    if (m_renderStop) return;
    // Should the feed's thread ever fall this far behind, the queue is
    // replaced by the whole table: it never grows without bound.
    const bool resync = m_changeCount >= kMaxPending;
    if (resync) m_changeCount = 0;
    for (int i = resync ? 0 : slot; i <= (resync ? table.count() - 1 : slot); ++i) {
      Change& change = NextChange();
      change.slot = i;
      change.count = table.count();
      // Assignment into a used entry reuses its strings' storage.
      change.record = table.slot(i);
    }
  }
  m_changesArrived.notify_one();
}

void LiveFeed::Cleared() {
  {
    std::scoped_lock lock(m_changesLock);
    if (m_renderStop) return;
    m_changeCount = 0;  // whatever was pending is emptied with the table
    Change& change = NextChange();
    change.slot = -1;
    change.count = 0;
  }
  m_changesArrived.notify_one();
}

// The feed's thread: takes every change that arrived, then renders once.
void LiveFeed::Render() {
  for (;;) {
    {
      std::unique_lock lock(m_changesLock);
      m_changesArrived.wait(lock, [&] { return m_renderStop || m_changeCount > 0; });
      if (m_renderStop) return;
      std::swap(m_changes, m_batch);
      m_batchCount = std::exchange(m_changeCount, 0);
    }
    for (std::size_t i = 0; i < m_batchCount; ++i) {
      const Change& change = m_batch[i];
      if (change.slot >= 0 && change.slot < StationTable::kSlots) {
        m_records[change.slot] = change.record;
      }
      m_recordCount = change.count;
    }
    RenderSnapshot();
  }
}

void LiveFeed::RenderSnapshot() {
  auto snapshot = std::make_shared<FeedSnapshot>();
  std::uint64_t version = 0;
  {
    std::scoped_lock lock(m_lock);
    version = m_nextVersion++;
  }
  snapshot->version = version;
  {
    std::scoped_lock shadowLock(m_shadowLock);
    // Slot for slot as in the radio link's table; a station not heard since
    // the last snapshot is not decoded again.
    std::scoped_lock tableLock(m_shadow.mutex());
    m_shadow.MirrorSlots(m_records.data(), m_recordCount);
    m_geojson(snapshot->geojson, m_shadow);
    m_shadowVersion = version;
  }
  AppendEvent(snapshot->event, snapshot->geojson);
  Install(std::move(snapshot));
}

void LiveFeed::PublishRendered(std::string geojson, std::string kml) {
  auto snapshot = std::make_shared<FeedSnapshot>();
  {
    std::scoped_lock shadowLock(m_shadowLock);
    {
      std::scoped_lock lock(m_lock);
      snapshot->version = m_nextVersion++;
    }
    // The KML of this version is ready, so Kml() never renders the empty shadow.
    m_shadowVersion = m_kmlVersion = snapshot->version;
    m_kmlText = std::make_shared<const std::string>(std::move(kml));
  }
  snapshot->geojson = std::move(geojson);
  AppendEvent(snapshot->event, snapshot->geojson);
  Install(std::move(snapshot));
}

void LiveFeed::Install(std::shared_ptr<FeedSnapshot> snapshot) {
  std::shared_ptr<const FeedSnapshot> old;
  {
    std::scoped_lock lock(m_lock);
    if (m_stopping) return;
    old = std::exchange(m_latest, std::move(snapshot));
  }
  {
    std::scoped_lock lock(m_wakeLock);
    if (m_wake) m_wake();
  }
  // `old` is freed here, outside the lock, unless a client still sends it.
}

// One `data:` line per line of the text, so that a renderer that breaks its
// output into lines still gives one event.
void LiveFeed::AppendEvent(std::string& out, const std::string& json) {
  out += "event: stations\n";
  std::size_t size = json.size();
  if (size > 0 && json[size - 1] == '\n') --size;  // no empty last line
  std::size_t start = 0;
  while (start <= size) {
    std::size_t end = json.find('\n', start);
    if (end == std::string::npos || end > size) end = size;
    std::size_t stop = end;
    if (stop > start && json[stop - 1] == '\r') --stop;
    out += "data: ";
    out.append(json, start, stop - start);
    out += '\n';
    start = end + 1;
  }
  out += '\n';
}

void LiveFeed::SetWake(std::function<void()> wake) {
  std::scoped_lock lock(m_wakeLock);
  m_wake = std::move(wake);
}

std::shared_ptr<const FeedSnapshot> LiveFeed::Latest() const {
  std::scoped_lock lock(m_lock);
  return m_latest;
}

std::shared_ptr<const std::string> LiveFeed::Kml() {
  std::scoped_lock shadowLock(m_shadowLock);
  if (!m_kmlText || m_kmlVersion != m_shadowVersion) {
    auto text = std::make_shared<std::string>();
    std::scoped_lock tableLock(m_shadow.mutex());
    m_kml(*text, m_shadow);
    m_kmlText = std::move(text);
    m_kmlVersion = m_shadowVersion;
  }
  return m_kmlText;
}

void LiveFeed::Stop() {
  std::scoped_lock stopLock(m_stopLock);
  {
    std::scoped_lock lock(m_changesLock);
    m_renderStop = true;
  }
  m_changesArrived.notify_one();
  if (m_thread.joinable()) m_thread.join();
  {
    std::scoped_lock lock(m_lock);
    m_stopping = true;
  }
}

bool LiveFeedOutput::Publish(const StationTable& table, int slot, std::string& /*osError*/) {
  m_feed->Publish(table, slot);
  return true;
}

void LiveFeedOutput::TableCleared(const StationTable& /*table*/) {
  m_feed->Cleared();
}

void LiveFeedOutput::Close() {
  m_feed->Stop();
}

}  // namespace rigplot
