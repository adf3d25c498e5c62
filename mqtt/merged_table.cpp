#include "mqtt/merged_table.h"

#include <algorithm>

#include "mqtt/hub.h"
#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/text_escape.h"

namespace rigplot {
namespace {

bool Digits(const std::string& text, std::size_t count) {
  if (text.size() != count) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

const char* HubDropName(HubDrop drop) {
  switch (drop) {
    case HubDrop::kNone:
      return "read";
    case HubDrop::kOversized:
      return "oversized";
    case HubDrop::kNotJson:
      return "not_json";
    case HubDrop::kNotFeature:
      return "not_feature";
    case HubDrop::kBadCoordinates:
      return "bad_coordinates";
    case HubDrop::kWrongType:
      return "wrong_type";
    case HubDrop::kCount:
      break;
  }
  return "?";
}

std::uint64_t HubFixKey(const std::string& date, const std::string& time) {
  if (!Digits(date, 6) || !Digits(time, 6)) return 0;
  return std::stoull(date.substr(4, 2) + date.substr(2, 2) + date.substr(0, 2) + time);
}

bool IsHubTopic(std::string_view topic, std::string_view self) {
  constexpr std::string_view kRoot = "rigplot/";
  if (topic.substr(0, kRoot.size()) != kRoot) return false;
  topic.remove_prefix(kRoot.size());
  const auto slash = topic.find('/');
  if (slash == std::string_view::npos || slash == 0) return false;
  if (!self.empty() && topic.substr(0, slash) == self) return false;
  const std::string_view leaf = topic.substr(slash + 1);
  if (leaf == "report") return true;
  constexpr std::string_view kStation = "station/";
  return leaf.size() > kStation.size() && leaf.substr(0, kStation.size()) == kStation &&
         leaf.find('/', kStation.size()) == std::string_view::npos;
}

MergedTable::MergedTable(std::size_t capacity) : m_capacity(std::max<std::size_t>(capacity, 1)) {
  // Reserved once, so that the views' group names keep pointing into their reports.
  m_stations.reserve(m_capacity);
  m_index.reserve(m_capacity);
}

std::size_t MergedTable::Store(const HubReport& report) {
  const std::uint64_t sequence = ++m_storeSequence;
  const std::string& callsign = report.view.callsign;
  std::size_t index = 0;
  bool fresh = false;
  if (const auto it = m_index.find(callsign); it != m_index.end()) {
    index = it->second;
  } else if (m_stations.size() < m_capacity) {
    index = m_stations.size();
    m_stations.emplace_back();
    fresh = true;
  } else {
    // Full: the station heard longest ago makes room.
    const auto oldest =
        std::min_element(m_stations.begin(), m_stations.end(),
                         [](const auto& a, const auto& b) { return a.lastHeard < b.lastHeard; });
    index = static_cast<std::size_t>(oldest - m_stations.begin());
    m_index.erase(oldest->report.view.callsign);
    oldest->receivers.clear();
    fresh = true;
  }
  if (fresh) m_index.emplace(callsign, index);
  MergedStation& station = m_stations[index];
  station.lastHeard = sequence;
  // Equal fix times: the later arrival wins, which every store is.
  if (fresh || report.fixKey >= station.report.fixKey) {
    station.report = report;
    station.report.PlaceGroupName();
    station.arrival = sequence;
  }
  auto heard = std::find_if(station.receivers.begin(), station.receivers.end(),
                            [&](const HeardBy& h) { return h.receiver == report.receiver; });
  if (heard == station.receivers.end()) {
    heard = station.receivers.insert(station.receivers.end(), HeardBy{report.receiver, {}});
  }
  heard->when = report.view.receivedIso;
  return index;
}

void MergedTable::Clear() {
  m_stations.clear();
  m_index.clear();
}

void RenderMergedGeoJson(std::string& out, const MergedTable& table) {
  out.clear();
  out += "{\"type\":\"FeatureCollection\",\"features\":[";
  for (std::size_t i = 0; i < table.count(); ++i) {
    const MergedStation& station = table.station(i);
    out += i == 0 ? "\n" : ",\n";
    AppendGeoJsonFeature(out, station.report.view);
    out.resize(out.size() - 2);  // reopen the properties: "}}"
    out += R"(,"receiver":)";
    AppendJsonString(out, station.report.receiver);
    out += R"(,"receivers":[)";
    for (std::size_t r = 0; r < station.receivers.size(); ++r) {
      if (r != 0) out += ',';
      out += R"({"receiver":)";
      AppendJsonString(out, station.receivers[r].receiver);
      out += R"(,"heard":)";
      if (station.receivers[r].when.empty()) {
        out += "null";
      } else {
        AppendJsonString(out, station.receivers[r].when);
      }
      out += '}';
    }
    out += "]}}";
  }
  out += "\n]}\n";
}

void RenderMergedKml(std::string& out, const MergedTable& table) {
  RenderKmlViews(
      out, table.count(),
      [&](std::size_t i) -> const StationView& { return table.station(i).report.view; },
      [&](std::string& text, std::size_t i) {
        text += "<br/>Heard by:";
        for (const HeardBy& heard : table.station(i).receivers) {
          text += "<br/>";
          AppendXmlText(text, heard.receiver);
          if (!heard.when.empty()) {
            text += ' ';
            AppendXmlText(text, heard.when);
          }
        }
      });
}

}  // namespace rigplot
