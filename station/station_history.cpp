#include "station/station_history.h"

#include <ctime>
#include <memory>
#include <mutex>

#include "history/history_store.h"
#include "history/tracks.h"

namespace rigplot {
namespace {

// The page's own connection to the file, opened at the first request that
// needs it: the store may have just made the file.
class TrackReader {
 public:
  explicit TrackReader(std::string path) : m_path(std::move(path)) {}

  WebAnswer Answer(TrackReply (*answer)(HistoryDb&, std::string_view, std::int64_t),
                   std::string_view query) {
    std::lock_guard<std::mutex> lock(m_lock);
    std::string error;
    if (!m_db.isOpen() && m_db.Open(m_path, true, error) != HistoryOpen::kOpened) {
      return {503, "text/plain; charset=utf-8", "history not readable: " + error + "\n"};
    }
    TrackReply reply = answer(m_db, query, static_cast<std::int64_t>(std::time(nullptr)));
    return {reply.status, reply.contentType, std::move(reply.body)};
  }

 private:
  std::string m_path;
  std::mutex m_lock;
  HistoryDb m_db;
};

// Opens the file and gives the page its track paths; null when there is
// none to keep, with `result` failed when the file is refused.
std::unique_ptr<HistoryStore> OpenHistory(const CommandLine& options, WebSettings& web,
                                          const LinkEventSink& sink, LinkResult& result) {
  result = {};
  if (options.historyPath.empty()) return nullptr;
  auto store =
      std::make_unique<HistoryStore>(HistorySettings{options.historyPath, options.historyDays});
  std::string error;
  switch (store->Open(error)) {
    case HistoryOpen::kRefused:
      result = {LinkFailure::kHistoryRefused, error};
      return nullptr;
    case HistoryOpen::kUnavailable:
      if (sink) sink("history not kept: " + error);
      return nullptr;
    case HistoryOpen::kOpened:
      break;
  }
  auto reader = std::make_shared<TrackReader>(options.historyPath);
  web.routes["/tracks.geojson"] = [reader](std::string_view query) {
    return reader->Answer(&AnswerTracks, query);
  };
  web.routes["/track.gpx"] = [reader](std::string_view query) {
    return reader->Answer(&AnswerTrackGpx, query);
  };
  return store;
}

}  // namespace

LinkResult AddHistory(const CommandLine& options, RadioLink& link, WebSettings& web,
                      const LinkEventSink& sink) {
  LinkResult result;
  if (auto store = OpenHistory(options, web, sink, result)) link.AddOutput(std::move(store));
  return result;
}

LinkResult AddHubHistory(const CommandLine& options, HubSettings& hub, WebSettings& web,
                         const LinkEventSink& sink, std::unique_ptr<StationOutput>& store) {
  LinkResult result;
  std::unique_ptr<HistoryStore> opened = OpenHistory(options, web, sink, result);
  if (!opened) return result;
  hub.historyName = opened->name();
  hub.history = [history = opened.get()](const HubReport& report, std::string& error) {
    HistoryRow row = RowFromView(report.view, report.receiver);
    // When its receiver heard it, where that reads; the time it came here otherwise.
    std::int64_t heard = 0;
    if (ParseIsoTime(report.view.receivedIso, heard)) row.received = heard;
    return history->Queue(std::move(row), error);
  };
  store = std::move(opened);
  return result;
}

}  // namespace rigplot
