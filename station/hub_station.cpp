#include "station/hub_station.h"

#include "station/station.h"
#include "station/station_history.h"
#include "stations/geojson.h"
#include "stations/kml.h"

namespace rigplot {

HubStation::HubStation(const CommandLine& options, LinkEventSink sink)
    : m_options(options), m_sink(std::move(sink)), m_web(options.web) {}

HubStation::~HubStation() {
  Stop();
}

LinkResult HubStation::Open() {
  return AddHubHistory(m_options, m_settings, m_web, m_sink, m_history);
}

bool HubStation::Start(std::string& error) {
  std::string password;
  if (!ReadMqttPassword(m_options.mqtt, password, error)) return false;
  HubSettings& settings = m_settings;
  settings.filters = m_options.subscribe;
  settings.stations = m_options.stations;
  settings.geojsonPath = m_options.geojsonPath;
  settings.kmlPath = m_options.kmlPath;
  settings.logDir = m_options.logDir;
  if (m_options.webEnabled) {
    WebSettings& web = m_web;
    std::string origin;
    if (!web.tilesUrl.empty() && !TileOrigin(web.tilesUrl, origin)) {
      if (m_sink) m_sink("page: tiles URL '" + web.tilesUrl + "' not usable; plain background");
      web.tilesUrl.clear();
    }
    m_feed = std::make_shared<LiveFeed>(m_empty, &RenderGeoJson, &RenderKml);
    m_server = std::make_unique<WebServer>(
        m_feed, [this] { return Status(); }, web);
    std::string osError;
    if (!m_server->Listen(osError)) {
      if (m_sink)
        m_sink("page not served: cannot listen on " + web.host + ":" + std::to_string(web.port) +
               ": " + osError);
      m_server.reset();
      m_feed->Stop();
      m_feed.reset();
    } else {
      if (m_server->servesNetwork() && m_sink) {
        m_sink("warning: the page on " + m_server->boundAddress() +
               " is open to the network without a password: anyone who can reach it can see "
               "the stations heard and the receivers");
      }
      settings.rendered = [feed = m_feed](std::string geojson, std::string kml) {
        feed->PublishRendered(std::move(geojson), std::move(kml));
      };
    }
  }
  m_hub = StartHub(m_options.mqtt, password, settings, m_sink, error);
  if (!m_hub) return false;
  if (m_server) m_server->Serve();
  return true;
}

void HubStation::ClearTable() {
  if (m_hub) m_hub->Clear();
}

void HubStation::Stop() {
  if (m_server) m_server->Stop();
  if (m_hub) m_hub->Close();
  // The hub queues no more: what it queued is written now.
  if (m_history) m_history->Close();
  if (m_feed) m_feed->Stop();
}

LinkStatus HubStation::Status() const {
  LinkStatus status;
  status.portPath = MqttAddress(m_options.mqtt);
  if (!m_hub) return status;
  const HubCounts counts = m_hub->counts();
  status.reportsStored = counts.merged;
  status.stations = static_cast<int>(counts.stations);
  status.outputs = m_hub->outputs();
  for (int kind = 1; kind < static_cast<int>(HubDrop::kCount); ++kind) {
    status.dropped.emplace_back(HubDropName(static_cast<HubDrop>(kind)), counts.dropped[kind]);
  }
  return status;
}

std::string HubStation::Describe() const {
  std::string filters;
  for (const std::string& filter : m_options.subscribe) {
    filters += (filters.empty() ? "" : " ") + filter;
  }
  std::string line = "hub listening on " + MqttAddress(m_options.mqtt) + " for " + filters +
                     ", up to " + std::to_string(m_options.stations) + " stations";
  if (!m_options.geojsonPath.empty()) line += ", GeoJSON " + m_options.geojsonPath;
  if (m_server) line += ", page " + m_server->url();
  return line;
}

}  // namespace rigplot
