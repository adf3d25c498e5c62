// SPDX-License-Identifier: MIT
// The live map page of a radio link.
//
//   RadioLink link(sink);
//   link.Open();
//   auto page = StartWebPage(link, settings, sink);  // takes the port, adds the feed
//   link.Start();
//   if (page) page->Serve();                          // answers from here on
//
// The page must go before the link: declare it after the link. Its status
// comes from the link's published counts and never waits on the worker, so
// a stuck worker neither holds a request nor the page's stop.
//
// Owns: the page's server; the live feed is shared with the output it adds to
// the link. Without a page (the address cannot be taken, said once to the
// sink) the link runs exactly as before.
// Thread: the front end's.
#pragma once

#include <memory>
#include <string>

#include "radio/radio_link.h"
#include "web/web_server.h"

namespace rigplot {

class WebPage {
 public:
  WebPage(RadioLink& link, const WebSettings& settings);
  ~WebPage();
  WebPage(const WebPage&) = delete;
  WebPage& operator=(const WebPage&) = delete;

  bool Listen(std::string& osError) { return m_server.Listen(osError); }
  // Starts answering; call once the link has started.
  void Serve() { m_server.Serve(); }
  // Ends every connection; bounded. The destructor calls it.
  void Stop() { m_server.Stop(); }

  std::string url() const { return m_server.url(); }
  std::string boundAddress() const { return m_server.boundAddress(); }
  int port() const { return m_server.port(); }
  bool servesNetwork() const { return m_server.servesNetwork(); }
  std::shared_ptr<LiveFeed> feed() const { return m_feed; }

 private:
  std::shared_ptr<LiveFeed> m_feed;
  WebServer m_server;
};

// Takes the page's address and adds its live feed to the link; Serve()
// starts answering. Call after link.Open and before link.Start. Null when the
// address cannot be taken; the sink is then told once why. A tiles URL that
// cannot be named safely gives a plain background, said once too. A page
// served beyond this machine is said to the sink as a warning. With
// `feedFromLink` false the feed is given its snapshots elsewhere (a merged
// table, LiveFeed::PublishRendered) and the link's table is not followed.
std::unique_ptr<WebPage> StartWebPage(RadioLink& link, WebSettings settings,
                                      const LinkEventSink& sink, bool feedFromLink = true);

}  // namespace rigplot
