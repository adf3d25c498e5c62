#include "web/web_page.h"

#include "stations/geojson.h"
#include "stations/kml.h"

namespace rigplot {

WebPage::WebPage(RadioLink& link, const WebSettings& settings)
    : m_feed(std::make_shared<LiveFeed>(link.table(), &RenderGeoJson, &RenderKml)),
      m_server(
          m_feed, [&link] { return link.status(); }, settings) {}

WebPage::~WebPage() {
  Stop();
}

std::unique_ptr<WebPage> StartWebPage(RadioLink& link, WebSettings settings,
                                      const LinkEventSink& sink, bool feedFromLink) {
  std::string origin;
  if (!settings.tilesUrl.empty() && !OwnTiles(settings.tilesUrl) &&
      !TileOrigin(settings.tilesUrl, origin)) {
    if (sink) sink("page: tiles URL '" + settings.tilesUrl + "' not usable; plain background");
    settings.tilesUrl.clear();
  }
  auto page = std::make_unique<WebPage>(link, settings);
  std::string osError;
  if (!page->Listen(osError)) {
    if (sink) {
      const std::string host =
          settings.host.find(':') != std::string::npos ? "[" + settings.host + "]" : settings.host;
      sink("page not served: cannot listen on " + host + ":" + std::to_string(settings.port) +
           ": " + osError);
    }
    return nullptr;
  }
  if (page->servesNetwork() && sink) {
    sink("warning: the page on " + page->boundAddress() +
         " is open to the network without a password: anyone who can reach it can see the "
         "stations heard, the serial port and the output paths");
  }
  if (feedFromLink) link.AddOutput(std::make_unique<LiveFeedOutput>(page->feed(), page->url()));
  return page;
}

}  // namespace rigplot
