// SPDX-License-Identifier: MIT
// A hub station: the merged table of many receivers with the files and the
// page the command line asks for, in place of the radio link.
//
//   HubStation hub(options, sink);
//   LinkResult opened = hub.Open();  // the history file, refused as a radio's is
//   if (!hub.Start(error)) ...;      // the page's address, the broker, then the page answers
//   ... hub.ClearTable(), hub.counts() ...
//   hub.Stop();                      // page, broker, history, files
//
// Owns: the hub (mqtt/hub.h), the history store it feeds, and the page's
// server and feed. A page that cannot have its address is said once and left
// out, as for a radio.
// Thread: the front end's; counts from any thread.
#pragma once

#include <memory>
#include <string>

#include "mqtt/hub.h"
#include "station/command_line.h"
#include "web/live_feed.h"
#include "web/web_server.h"

namespace rigplot {

class HubStation {
 public:
  HubStation(const CommandLine& options, LinkEventSink sink);
  ~HubStation();
  HubStation(const HubStation&) = delete;
  HubStation& operator=(const HubStation&) = delete;

  // With --history: opens the file before Start; a newer or foreign one
  // fails, untouched, and one that cannot be made is said and left out.
  LinkResult Open();
  // False with `error` when the hub cannot be made (password file, library).
  bool Start(std::string& error);
  void ClearTable();
  // After log rotation: the files are opened again under their names.
  void ReopenFiles() {
    if (m_hub) m_hub->Reopen();
  }
  // Bounded; any number of times.
  void Stop();

  HubCounts counts() const { return m_hub ? m_hub->counts() : HubCounts{}; }
  // "hub listening on mqtt://... for rigplot/+/report, up to 1000 stations, page http://..."
  std::string Describe() const;

 private:
  LinkStatus Status() const;

  CommandLine m_options;
  LinkEventSink m_sink;
  HubSettings m_settings;                    // Open's part, completed by Start
  WebSettings m_web;                         // the same
  std::unique_ptr<StationOutput> m_history;  // declared before the hub, which uses it
  StationTable m_empty;  // the feed's own table stays empty: the hub renders for it
  std::shared_ptr<LiveFeed> m_feed;
  std::unique_ptr<WebServer> m_server;
  std::unique_ptr<Hub> m_hub;
};

}  // namespace rigplot
