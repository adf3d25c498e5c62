// SPDX-License-Identifier: MIT
// The station table as KML 2.2 for Google Earth, Marble and other globes:
// one Placemark per station in slot order, named by callsign, with the map
// script's information text as its description and a style per icon group.
// Thread: the caller holds the table's lock.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "stations/atomic_file.h"
#include "stations/station_table.h"
#include "stations/station_view.h"

namespace rigplot {

// Replaces `out` with the table's KML, UTF-8. A station whose position does
// not read is listed without a point.
void RenderKml(std::string& out, const StationTable& table);

// The same document for `count` views kept elsewhere (a hub's merged table);
// `more` may append XML-escaped lines to station i's description.
void RenderKmlViews(std::string& out, std::size_t count,
                    const std::function<const StationView&(std::size_t)>& view,
                    const std::function<void(std::string&, std::size_t)>& more);

// Rewrites one KML file after every report, in one step.
class KmlFileOutput : public RewrittenFileOutput {
 public:
  explicit KmlFileOutput(std::string path) : RewrittenFileOutput(std::move(path), &RenderKml) {}
};

}  // namespace rigplot
