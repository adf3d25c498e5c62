#include "stations/geojson.h"

#include <charconv>
#include <string_view>

#include "stations/report_fields.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"

namespace rigplot {
namespace {

void AppendField(std::string& out, const char* text, std::size_t length, std::string_view absent) {
  if (length == 0) {
    out += absent;
  } else {
    out.append(text, length);
  }
}

}  // namespace

void AppendGeoJsonFeature(std::string& out, const StationView& station) {
  char text[kFieldTextSize];
  out += R"({"type":"Feature","geometry":)";
  if (station.hasPosition) {
    out += R"({"type":"Point","coordinates":[)";
    AppendField(out, text, FormatDegrees(station.longitude, text), "0");
    out += ',';
    AppendField(out, text, FormatDegrees(station.latitude, text), "0");
    out += "]}";
  } else {
    out += "null";
  }
  out += R"(,"properties":{"callsign":)";
  AppendJsonString(out, station.callsign);
  out += R"(,"repeater":)";
  AppendJsonString(out, station.repeater);
  out += R"(,"symbol":)";
  AppendJsonString(out, station.symbol);
  out += R"(,"gid":)";
  AppendJsonString(out, station.gid);
  out += R"(,"group":)";
  if (station.group != nullptr) {
    AppendJsonString(out, station.groupName);
  } else {
    out += "null";
  }
  out += R"(,"heading_class":)";
  out.append(text, std::to_chars(text, text + sizeof text, station.headingClass).ptr);
  out += R"(,"course":)";
  AppendField(out, text, station.hasCourse ? FormatNumber(station.course, text) : 0, "null");
  out += R"(,"speed_kmh":)";
  AppendField(out, text, FormatFiniteKmh(station.speedKmh, text), "null");
  out += R"(,"utc_date":)";
  AppendJsonString(out, station.utcDate);
  out += R"(,"utc_time":)";
  AppendJsonString(out, station.utcTime);
  out += R"(,"received_at":)";
  if (station.receivedIso.empty()) {
    out += "null";
  } else {
    out += '"';
    out += station.receivedIso;
    out += '"';
  }
  out += R"(,"message":)";
  AppendJsonString(out, station.message);
  out += "}}";
}

void RenderGeoJson(std::string& out, const StationTable& table) {
  out.clear();
  out += "{\"type\":\"FeatureCollection\",\"features\":[";
  const int count = table.count();
  for (int i = 0; i < count; ++i) {
    out += i == 0 ? "\n" : ",\n";
    AppendGeoJsonFeature(out, table.view(i));
  }
  out += "\n]}\n";
}

}  // namespace rigplot
