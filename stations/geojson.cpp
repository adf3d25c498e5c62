#include "stations/geojson.h"

#include <string_view>

#include "stations/icon_groups.h"
#include "stations/radio_text.h"
#include "stations/report_fields.h"

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

void AppendGeoJsonFeature(std::string& out, const StationRecord& station) {
  char text[kFieldTextSize];
  out += R"({"type":"Feature","geometry":)";
  double latitude = 0;
  double longitude = 0;
  if (ReadPosition(station, latitude, longitude)) {
    out += R"({"type":"Point","coordinates":[)";
    AppendField(out, text, FormatDegrees(longitude, text), "0");
    out += ',';
    AppendField(out, text, FormatDegrees(latitude, text), "0");
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
  const int headingClass = HeadingClassOf(station.course);
  const std::string gid = GroupIdFor(station.symbol, headingClass);
  out += R"(,"gid":)";
  AppendJsonString(out, gid);
  out += R"(,"group":)";
  const IconGroup* group = FindIconGroup(gid);
  if (group != nullptr) {
    AppendJsonString(out, group->gname);
  } else {
    out += "null";
  }
  out += R"(,"heading_class":)";
  out += std::to_string(headingClass);
  out += R"(,"course":)";
  double course = 0;
  AppendField(out, text, ReadCourse(station.course, course) ? FormatNumber(course, text) : 0,
              "null");
  out += R"(,"speed_kmh":)";
  AppendField(out, text, FormatFiniteSpeedKmh(station.speedKnots, text), "null");
  out += R"(,"utc_date":)";
  AppendJsonString(out, station.utcDate);
  out += R"(,"utc_time":)";
  AppendJsonString(out, station.utcTime);
  out += R"(,"received_at":)";
  const std::size_t received = FormatLocalIso(station.receivedTime, text);
  if (received == 0) {
    out += "null";
  } else {
    out += '"';
    out.append(text, received);
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
    AppendGeoJsonFeature(out, table.slot(i));
  }
  out += "\n]}\n";
}

}  // namespace rigplot
