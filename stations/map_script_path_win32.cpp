// SPDX-License-Identifier: MIT
// Where the map script lives on Windows.
#include <cstdlib>
#include <string>

#include "stations/map_script_writer.h"

namespace rigplot {

// TEMP and "\0.mps"; with TEMP unset, "\0.mps" in the root of the current drive.
std::string MapScriptPath() {
  const char* dir = std::getenv("TEMP");
  return std::string(dir != nullptr ? dir : "") + "\\0.mps";
}

}  // namespace rigplot
