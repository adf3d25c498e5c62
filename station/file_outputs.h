// SPDX-License-Identifier: MIT
// The file outputs the command line asks for, beside the map script.
// Thread: the front end's, once before the link starts.
#pragma once

#include <memory>
#include <vector>

#include "station/command_line.h"
#include "stations/station_output.h"

namespace rigplot {

// GeoJSON, KML and the report log, in that order, each only when its option
// was given. Nothing is opened or written until the first report.
std::vector<std::unique_ptr<StationOutput>> MakeFileOutputs(const CommandLine& line);

}  // namespace rigplot
