// The live map page of a radio link, in one call for every front end.
//
//   RadioLink link(sink);
//   link.Open();
//   auto page = StartWebPage(link, commandLine, sink);  // takes the port, adds the feed
//   link.Start();
//   if (page) page->Serve();                             // answers from here on
//   ... page ? page->url() : "no page" ...
//
// The page must go before the link: declare it after the link. It answers
// only once the link has started, since the status it shows is read from the
// running link.
//
// Owns: the page's server; the live feed is shared with the output it adds to
// the link. Without a page (--web off, or the address cannot be taken, said
// once to the sink) the link runs exactly as before.
// Thread: the front end's.
#pragma once

#include <memory>
#include <string>

#include "radio/command_line.h"
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

// Takes the page's address as the command line asks and adds its live feed
// to the link; Serve() starts answering. Call after link.Open and before
// link.Start. Null when the page is off or its address cannot be taken; the
// sink is then told once why. A page served beyond this machine is said to the
// sink as a warning.
std::unique_ptr<WebPage> StartWebPage(RadioLink& link, const CommandLine& line,
                                      const LinkEventSink& sink);

}  // namespace rigplot
