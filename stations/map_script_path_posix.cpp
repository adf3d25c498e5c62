// SPDX-License-Identifier: MIT
// Where the map script lives on POSIX systems.
#include <stdlib.h>

#include <cstdlib>
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

}  // namespace rigplot
