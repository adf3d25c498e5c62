#include "mqtt/mqtt_settings.h"

#include <charconv>

#include "stations/geojson.h"
#include "stations/report_fields.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"

namespace rigplot {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsTopicByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.';
}

void AppendNumberField(std::string& out, const char* name, const char* text, std::size_t length) {
  if (length == 0) return;
  out += ",\"";
  out += name;
  out += "\":";
  out.append(text, length);
}

}  // namespace

bool ParseMqttUrl(std::string_view url, MqttSettings& settings) {
  std::string_view rest;
  if (url.substr(0, 7) == "mqtt://") {
    settings.tls = false;
    settings.port = 1883;
    rest = url.substr(7);
  } else if (url.substr(0, 8) == "mqtts://") {
    settings.tls = true;
    settings.port = 8883;
    rest = url.substr(8);
  } else {
    return false;
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  settings.user.clear();
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    if (at == 0) return false;
    settings.user = std::string(rest.substr(0, at));
    rest = rest.substr(at + 1);
  }
  std::string_view host = rest;
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) return false;
    host = rest.substr(1, close - 1);
    const std::string_view after = rest.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      port = after.substr(1);
      if (port.empty()) return false;
    }
  } else if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (host.empty() || host.find_first_of("/?#@ ") != std::string_view::npos) return false;
  if (!port.empty()) {
    int number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      return false;
    }
    settings.port = number;
  }
  settings.host = std::string(host);
  settings.enabled = true;
  return true;
}

std::string MqttAddress(const MqttSettings& settings) {
  const bool v6 = settings.host.find(':') != std::string::npos;
  return std::string(settings.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" : "") + settings.host +
         (v6 ? "]" : "") + ":" + std::to_string(settings.port);
}

bool IsReceiverName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (const unsigned char c : name) {
    if (!IsTopicByte(c)) return false;
  }
  return true;
}

std::string TopicCallsign(std::string_view utf8) {
  std::string out;
  for (const unsigned char c : utf8) {
    if (IsTopicByte(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string HomeAssistantId(std::string_view text) {
  std::string out;
  for (const unsigned char c : text) {
    if (IsTopicByte(c) && c != '_' && c != '.') {
      out += static_cast<char>(c);
    } else {
      out += '_';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void MakeReportMessages(ReportMessages& out, const StationView& station,
                        std::string_view receiver) {
  out.callsign = station.callsign;
  out.topicCallsign = TopicCallsign(out.callsign);

  // The file's own Feature, closed again after one more property.
  out.feature.clear();
  AppendGeoJsonFeature(out.feature, station);
  out.feature.resize(out.feature.size() - 2);
  out.feature += ",\"receiver\":";
  AppendJsonString(out.feature, receiver);
  out.feature += "}}";

  out.attributes.clear();
  if (!station.hasPosition) return;
  char text[kFieldTextSize];
  out.attributes += "{\"source_type\":\"gps\"";
  AppendNumberField(out.attributes, "latitude", text, FormatDegrees(station.latitude, text));
  AppendNumberField(out.attributes, "longitude", text, FormatDegrees(station.longitude, text));
  // The radio sends no accuracy; 0 places the station exactly where it says.
  out.attributes += ",\"gps_accuracy\":0";
  if (station.hasCourse) {
    AppendNumberField(out.attributes, "course", text, FormatNumber(station.course, text));
  }
  AppendNumberField(out.attributes, "speed", text, FormatFiniteKmh(station.speedKmh, text));
  out.attributes += ",\"repeater\":";
  AppendJsonString(out.attributes, station.repeater);
  out.attributes += ",\"message\":";
  AppendJsonString(out.attributes, station.message);
  out.attributes += ",\"receiver\":";
  AppendJsonString(out.attributes, receiver);
  out.attributes += '}';
}

std::string ReceiverTopic(const MqttSettings& settings, std::string_view leaf) {
  return "rigplot/" + settings.receiver + "/" + std::string(leaf);
}

std::string HomeAssistantConfigTopic(const MqttSettings& settings, std::string_view callsign) {
  return settings.homeAssistantPrefix + "/device_tracker/rigplot_" +
         HomeAssistantId(settings.receiver) + "/" + HomeAssistantId(callsign) + "/config";
}

std::string HomeAssistantAttributesTopic(const MqttSettings& settings,
                                         std::string_view topicCallsign) {
  return ReceiverTopic(settings, "homeassistant/") + std::string(topicCallsign);
}

std::string HomeAssistantConfig(const MqttSettings& settings, const ReportMessages& report) {
  const std::string id =
      "rigplot_" + HomeAssistantId(settings.receiver) + "_" + HomeAssistantId(report.callsign);
  std::string out = "{\"name\":null,\"unique_id\":\"" + id + "\",\"object_id\":\"" + id +
                    "\",\"source_type\":\"gps\",\"json_attributes_topic\":\"" +
                    HomeAssistantAttributesTopic(settings, report.topicCallsign) +
                    "\",\"availability_topic\":\"" + ReceiverTopic(settings, "status") +
                    "\",\"availability_template\":"
                    "\"{{ 'online' if value_json.online else 'offline' }}\","
                    "\"payload_available\":\"online\",\"payload_not_available\":\"offline\","
                    "\"device\":{\"identifiers\":[\"" +
                    id + "\"],\"name\":";
  AppendJsonString(out, report.callsign);
  out += ",\"model\":\"D-STAR station heard by " + settings.receiver + "\"}}";
  return out;
}

}  // namespace rigplot
