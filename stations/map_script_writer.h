// SPDX-License-Identifier: MIT
// The map script writer: rewrites the one file the map viewer reads.
//
// Owns: the file replacer, and a reusable render buffer.
// Invariants: the file at the map-script path is always a whole file; a new one
// is written beside it and renamed over it, so a reader never sees half a file.
// Thread: the receive worker, holding the station table's lock; the stop
// sequence calls CloseIfOpen after the worker has ended.
#pragma once

#include <ctime>
#include <string>

#include "stations/atomic_file.h"
#include "stations/station_table.h"

namespace rigplot {

// The map-script path for this platform, read from the environment. The worker
// forms it once when it starts.
std::string MapScriptPath();

class MapScriptWriter {
 public:
  MapScriptWriter() = default;
  MapScriptWriter(const MapScriptWriter&) = delete;
  MapScriptWriter& operator=(const MapScriptWriter&) = delete;
  ~MapScriptWriter() { CloseIfOpen(); }

  // Rewrites the file from the table. False when the new file could not be
  // written; the old file then stays as it was and the next report tries again.
  [[nodiscard]] bool Write(const std::string& path, const StationTable& table);

  // The file's bytes for the table, with the theme line from `now`.
  static void Render(std::string& out, const std::string& path, const StationTable& table,
                     const std::tm& now);

  // For the stop sequence: closes a stream left open by an unfinished rewrite.
  void CloseIfOpen() { m_file.CloseIfOpen(); }

  // The OS's text for why the last Write failed; empty after a success.
  const std::string& lastError() const { return m_file.lastError(); }

 private:
  AtomicFileWriter m_file{PathEncoding::kSystem};
  std::string m_buffer;
};

}  // namespace rigplot
