// SPDX-License-Identifier: MIT
// The station table as GeoJSON (RFC 7946): a FeatureCollection with one
// Point feature per station in slot order. The file output and the live page
// serve the same bytes.
// Thread: the caller holds the table's lock.
#pragma once

#include <string>

#include "stations/atomic_file.h"
#include "stations/station_table.h"
#include "stations/station_view.h"

namespace rigplot {

// Replaces `out` with the table's GeoJSON, UTF-8, one feature per line.
// A position that does not read gives "geometry": null.
void RenderGeoJson(std::string& out, const StationTable& table);

// Appends one station's Feature, exactly as the collection holds it: the
// MQTT messages carry the same bytes.
void AppendGeoJsonFeature(std::string& out, const StationView& station);

// Rewrites one GeoJSON file after every report, in one step.
class GeoJsonFileOutput : public RewrittenFileOutput {
 public:
  explicit GeoJsonFileOutput(std::string path)
      : RewrittenFileOutput(std::move(path), &RenderGeoJson) {}
};

}  // namespace rigplot
