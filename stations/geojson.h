// The station table as GeoJSON (RFC 7946): a FeatureCollection with one
// Point feature per station in slot order. The file output and the live page
// serve the same bytes.
// Thread: the caller holds the table's lock.
#pragma once

#include <string>

#include "stations/atomic_file.h"
#include "stations/station_output.h"
#include "stations/station_table.h"

namespace rigplot {

// Replaces `out` with the table's GeoJSON, UTF-8, one feature per line.
// A position that does not read gives "geometry": null.
void RenderGeoJson(std::string& out, const StationTable& table);

// Rewrites one GeoJSON file after every report, in one step.
class GeoJsonFileOutput : public StationOutput {
 public:
  explicit GeoJsonFileOutput(std::string path) : m_path(std::move(path)) {}

  std::string name() const override { return m_path; }
  bool Publish(const StationTable& table, int slot, std::string& osError) override;
  void Close() override { m_file.CloseIfOpen(); }

 private:
  std::string m_path;  // UTF-8
  std::string m_buffer;
  AtomicFileWriter m_file{PathEncoding::kUtf8};
};

}  // namespace rigplot
