#include "station/file_outputs.h"

#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/report_log.h"

namespace rigplot {

std::vector<std::unique_ptr<StationOutput>> MakeFileOutputs(const CommandLine& line) {
  std::vector<std::unique_ptr<StationOutput>> outputs;
  if (!line.geojsonPath.empty()) {
    outputs.push_back(std::make_unique<GeoJsonFileOutput>(line.geojsonPath));
  }
  if (!line.kmlPath.empty()) outputs.push_back(std::make_unique<KmlFileOutput>(line.kmlPath));
  if (!line.logDir.empty()) outputs.push_back(std::make_unique<ReportLog>(line.logDir));
  return outputs;
}

}  // namespace rigplot
