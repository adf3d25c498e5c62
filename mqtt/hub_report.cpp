#include "mqtt/hub_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "mqtt/hub.h"
#include "mqtt/mqtt_settings.h"
#include "stations/icon_groups.h"

namespace rigplot {
namespace {

using Json = nlohmann::json;

// Longer than any field the radio sends, so a longer one is not from a receiver.
constexpr std::size_t kMaxText = 256;

// An absent or null property reads as empty; anything but a short string is refused.
bool ReadText(const Json& properties, const char* key, std::string& out) {
  out.clear();
  const auto it = properties.find(key);
  if (it == properties.end() || it->is_null()) return true;
  if (!it->is_string()) return false;
  const auto& text = it->get_ref<const std::string&>();
  if (text.size() > kMaxText) return false;
  out = text;
  return true;
}

// Null or absent is "not known"; a number must be finite.
bool ReadNumber(const Json& properties, const char* key, bool& has, double& out) {
  has = false;
  const auto it = properties.find(key);
  if (it == properties.end() || it->is_null()) return true;
  if (!it->is_number()) return false;
  out = it->get<double>();
  has = std::isfinite(out);
  return has;
}

// The time goes into the outputs unescaped, as the radio's own always reads:
// only the characters of an ISO 8601 time pass.
bool IsoTime(const std::string& text) {
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || c == '-' || c == ':' || c == 'T' || c == '+' || c == 'Z' ||
          c == '.')) {
      return false;
    }
  }
  return true;
}

// The texts the map script's information shows (KML, the report log), from
// the Feature's own: "yy/mm/dd hh:mm:ss" for the fix and for the reception.
void FillShownTimes(StationView& view) {
  view.dataTime.clear();
  const auto field = [](const std::string& text, std::size_t at) {
    return text.size() >= at + 2 ? text.substr(at, 2) : std::string("-");
  };
  view.dataTime = field(view.utcDate, 4) + "/" + field(view.utcDate, 2) + "/" +
                  field(view.utcDate, 0) + " " + field(view.utcTime, 0) + ":" +
                  field(view.utcTime, 2) + ":" + field(view.utcTime, 4);
  // 2026-12-07T10:00:00+09:00 -> 26/12/07 10:00:00
  const std::string& iso = view.receivedIso;
  view.receivedAt.clear();
  if (iso.size() >= 19 && iso[4] == '-' && iso[10] == 'T') {
    view.receivedAt = iso.substr(2, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(8, 2) + " " +
                      iso.substr(11, 8);
  }
  view.courseText.clear();
  if (view.hasCourse) {
    char text[kFieldTextSize];
    view.courseText.assign(text, FormatNumber(view.course, text));
  }
}

HubDrop ReadGeometry(const Json& feature, StationView& view) {
  view.hasPosition = false;
  const auto it = feature.find("geometry");
  if (it == feature.end()) return HubDrop::kNotFeature;
  if (it->is_null()) return HubDrop::kNone;
  if (!it->is_object()) return HubDrop::kNotFeature;
  const auto type = it->find("type");
  const auto coordinates = it->find("coordinates");
  if (type == it->end() || *type != "Point" || coordinates == it->end()) {
    return HubDrop::kNotFeature;
  }
  if (!coordinates->is_array() || coordinates->size() < 2 || !(*coordinates)[0].is_number() ||
      !(*coordinates)[1].is_number()) {
    return HubDrop::kBadCoordinates;
  }
  const double longitude = (*coordinates)[0].get<double>();
  const double latitude = (*coordinates)[1].get<double>();
  // The comparisons are false for NaN too.
  if (!(std::fabs(latitude) <= 90) || !(std::fabs(longitude) <= 180)) {
    return HubDrop::kBadCoordinates;
  }
  view.hasPosition = true;
  view.latitude = latitude;
  view.longitude = longitude;
  return HubDrop::kNone;
}

}  // namespace

HubDrop ReadHubReport(std::string_view payload, HubReport& out) {
  if (payload.size() > kMaxHubPayload) return HubDrop::kOversized;
  // No exceptions: a hostile payload is an answer, not an error. Depth is
  // bounded by the size cap.
  const Json feature = Json::parse(payload.begin(), payload.end(), nullptr, false);
  if (feature.is_discarded()) return HubDrop::kNotJson;
  if (!feature.is_object()) return HubDrop::kNotFeature;
  const auto type = feature.find("type");
  const auto properties = feature.find("properties");
  if (type == feature.end() || *type != "Feature" || properties == feature.end() ||
      !properties->is_object()) {
    return HubDrop::kNotFeature;
  }
  StationView& view = out.view;
  if (const HubDrop geometry = ReadGeometry(feature, view); geometry != HubDrop::kNone) {
    return geometry;
  }
  const Json& p = *properties;
  double speed = 0;
  bool hasSpeed = false;
  if (!ReadText(p, "callsign", view.callsign) || !ReadText(p, "receiver", out.receiver) ||
      !ReadText(p, "repeater", view.repeater) || !ReadText(p, "symbol", view.symbol) ||
      !ReadText(p, "gid", view.gid) || !ReadText(p, "group", out.groupName) ||
      !ReadText(p, "utc_date", view.utcDate) || !ReadText(p, "utc_time", view.utcTime) ||
      !ReadText(p, "received_at", view.receivedIso) || !ReadText(p, "message", view.message) ||
      !ReadNumber(p, "course", view.hasCourse, view.course) ||
      !ReadNumber(p, "speed_kmh", hasSpeed, speed)) {
    return HubDrop::kWrongType;
  }
  if (!IsoTime(view.receivedIso)) return HubDrop::kWrongType;
  if (view.callsign.empty() || !IsReceiverName(out.receiver)) return HubDrop::kNotFeature;
  view.headingClass = 0;
  if (const auto heading = p.find("heading_class"); heading != p.end()) {
    if (!heading->is_number_integer()) return HubDrop::kWrongType;
    const auto value = heading->get<std::int64_t>();
    if (value < 0 || value > 99) return HubDrop::kWrongType;
    view.headingClass = static_cast<int>(value);
  }
  view.speedKmh = hasSpeed ? static_cast<float>(speed) : 0.0f;
  view.group = out.groupName.empty() ? nullptr : FindIconGroup(view.gid);
  out.PlaceGroupName();
  out.fixKey = HubFixKey(view.utcDate, view.utcTime);
  FillShownTimes(view);
  return HubDrop::kNone;
}

}  // namespace rigplot
