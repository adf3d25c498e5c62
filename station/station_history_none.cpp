#include "station/station_history.h"

namespace rigplot {

bool HistoryBuilt() {
  return false;
}

LinkResult AddHistory(const CommandLine&, RadioLink&, WebSettings&, const LinkEventSink&) {
  return {};
}

}  // namespace rigplot
