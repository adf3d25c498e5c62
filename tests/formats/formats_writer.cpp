// SPDX-License-Identifier: MIT
// Replays a radio stream into the station table and, after every report,
// writes the map script and the three open formats into a directory, as the
// radio link does. check_formats.py reads the files back. Every report gets
// its own clock reading, 20 minutes after the one before, so that a long
// stream crosses local midnight.
//
//   rigplot_formats_writer STREAM DIR START
// Prints the number of reports stored.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "report/report_parser.h"
#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/map_script_writer.h"
#include "stations/report_log.h"
#include "stations/station_table.h"

namespace {

std::time_t g_now = 0;

bool SteppingClock(std::time_t* now) {
  *now = g_now;
  g_now += 20 * 60;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s STREAM DIR START\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::string dir = argv[2];
  g_now = static_cast<std::time_t>(std::atoll(argv[3]));

  rigplot::ReportParser parser(&SteppingClock);
  rigplot::StationTable table;
  rigplot::MapScriptWriter map;
  rigplot::GeoJsonFileOutput geojson(dir + "/stations.geojson");
  rigplot::KmlFileOutput kml(dir + "/stations.kml");
  rigplot::ReportLog log(dir + "/log");
  rigplot::StationOutput* outputs[] = {&geojson, &kml, &log};
  int reports = 0;
  std::scoped_lock lock(table.mutex());
  for (char c : bytes) {
    if (!parser.feedByte(static_cast<std::uint8_t>(c))) continue;
    const int slot = table.StoreReport(parser.report());
    ++reports;
    if (!map.Write(dir + "/0.mps", table)) {
      std::fprintf(stderr, "map script: %s\n", map.lastError().c_str());
      return 1;
    }
    for (rigplot::StationOutput* output : outputs) {
      std::string error;
      if (!output->Publish(table, slot, error)) {
        std::fprintf(stderr, "%s: %s\n", output->name().c_str(), error.c_str());
        return 1;
      }
    }
  }
  std::printf("%d\n", reports);
  return 0;
}
