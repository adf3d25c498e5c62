#include "station/station_history.h"

namespace rigplot {

bool HistoryBuilt() {
  return false;
}

LinkResult AddHistory(const CommandLine&, RadioLink&, WebSettings&, const LinkEventSink&) {
  return {};
}

LinkResult AddHubHistory(const CommandLine&, HubSettings&, WebSettings&, const LinkEventSink&,
                         std::unique_ptr<StationOutput>&) {
  return {};
}

}  // namespace rigplot
