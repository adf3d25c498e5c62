// Where the map script lives on POSIX systems, and the local clock for its theme line.
#include <stdlib.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "stations/map_script_writer.h"

namespace rigplot {

std::string MapScriptPath() {
  // TEMP first, as on the desktop the viewer comes from; TMPDIR is the POSIX
  // name. An empty value names no directory.
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* dir = std::getenv(name);
    if (dir != nullptr && *dir != '\0') return std::string(dir) + "/0.mps";
  }
  return "/tmp/0.mps";
}

std::tm MapScriptWriter::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

}  // namespace rigplot
