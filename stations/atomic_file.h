// SPDX-License-Identifier: MIT
// Replacing a whole file in one step, for every file that is rewritten after
// each report (the map script, GeoJSON, KML).
//
// Owns: the stream of the new file while a replace runs, and the OS's text
// of the last failure.
// Invariants: the file at the path is always a whole file; the new one is
// written beside it under a name of its own and moved over it, so a reader
// sees the old file or the new one, never part of one. A failed replace
// leaves the old file as it was and no new file behind. The new file is on
// disk before it takes the name, so a power cut leaves one whole file. The
// first replace removes what writers killed in mid-rewrite left beside the
// path, but not a new file another live writer is still working on.
// Thread: one thread at a time; CloseIfOpen from the stop sequence after the
// writing thread has ended. One implementation file per OS.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "stations/station_output.h"
#include "stations/station_table.h"

namespace rigplot {

// How a path's bytes are to be read. On Windows the map-script path comes
// from TEMP in the system's code page and paths from the command line come
// as UTF-8; elsewhere a path is bytes either way.
enum class PathEncoding { kSystem, kUtf8 };

class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(PathEncoding encoding = PathEncoding::kSystem) : m_encoding(encoding) {}
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() { CloseIfOpen(); }

  // Puts `bytes` at `path`. False when that failed; lastError() then says
  // why, and the next call tries again.
  bool Replace(const std::string& path, std::string_view bytes);

  // For the stop sequence: closes and removes a new file left open by an
  // unfinished replace.
  void CloseIfOpen();

  // The OS's text for the last failure, UTF-8; empty after a success.
  const std::string& lastError() const { return m_lastError; }

 private:
  [[maybe_unused]] PathEncoding m_encoding;  // read on Windows only
  std::FILE* m_file = nullptr;               // open only during a replace
  std::string m_tempPath;                    // the new file while it is written
  std::string m_sweptPath;                   // the path whose leftovers are gone
  std::string m_lastError;
};

// An output that renders the whole table into one file after every report
// and puts it in place in one step (GeoJSON, KML). The path is UTF-8.
class RewrittenFileOutput : public StationOutput {
 public:
  using Render = void (*)(std::string& out, const StationTable& table);
  RewrittenFileOutput(std::string path, Render render)
      : m_path(std::move(path)), m_render(render) {}

  std::string name() const override { return m_path; }
  bool Publish(const StationTable& table, int /*slot*/, std::string& osError) override {
    m_render(m_buffer, table);
    if (m_file.Replace(m_path, m_buffer)) return true;
    osError = m_file.lastError();
    return false;
  }
  void Close() override { m_file.CloseIfOpen(); }

 private:
  std::string m_path;
  Render m_render;
  std::string m_buffer;
  AtomicFileWriter m_file{PathEncoding::kUtf8};
};

}  // namespace rigplot
