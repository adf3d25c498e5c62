// SPDX-License-Identifier: MIT
// Fuzz target: any MQTT payload a hub may be sent. What it keeps must render
// as JSON that reads back with the same station: a received text can never
// break out of its string.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "mqtt/hub_report.h"
#include "mqtt/merged_table.h"

namespace {

void Require(bool ok, const char* broken) {
  if (ok) return;
  std::fprintf(stderr, "hub_fuzz: %s\n", broken);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace rigplot;
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  HubReport report;
  if (ReadHubReport(payload, report) != HubDrop::kNone) return 0;
  MergedTable table(2);
  table.Store(report);
  std::string geojson;
  RenderMergedGeoJson(geojson, table);
  const auto read = nlohmann::json::parse(geojson, nullptr, false);
  Require(!read.is_discarded(), "the merged GeoJSON does not parse");
  const auto& properties = read["features"][0]["properties"];
  Require(properties["callsign"] == report.view.callsign, "the callsign changed");
  Require(properties["receivers"][0]["receiver"] == report.receiver, "the receiver changed");
  std::string kml;
  RenderMergedKml(kml, table);
  Require(kml.find("</kml>") != std::string::npos, "the KML is cut short");
  return 0;
}
