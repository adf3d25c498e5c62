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

}  // namespace

LinkResult AddHistory(const CommandLine& options, RadioLink& link, WebSettings& web,
                      const LinkEventSink& sink) {
  if (options.historyPath.empty()) return {};
  auto store =
      std::make_unique<HistoryStore>(HistorySettings{options.historyPath, options.historyDays});
  std::string error;
  switch (store->Open(error)) {
    case HistoryOpen::kRefused:
      return {LinkFailure::kHistoryRefused, error};
    case HistoryOpen::kUnavailable:
      if (sink) sink("history not kept: " + error);
      return {};
    case HistoryOpen::kOpened:
      break;
  }
  link.AddOutput(std::move(store));
  auto reader = std::make_shared<TrackReader>(options.historyPath);
  web.routes["/tracks.geojson"] = [reader](std::string_view query) {
    return reader->Answer(&AnswerTracks, query);
  };
  web.routes["/track.gpx"] = [reader](std::string_view query) {
    return reader->Answer(&AnswerTrackGpx, query);
  };
  return {};
}

}  // namespace rigplot
