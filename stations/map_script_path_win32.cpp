// Where the map script lives on Windows, and the local clock for its theme line.
#include <cstdlib>
#include <ctime>
#include <string>

#include "stations/map_script_writer.h"

namespace rigplot {

// TEMP and "\0.mps"; with TEMP unset, "\0.mps" in the root of the current drive.
std::string MapScriptPath() {
  const char* dir = std::getenv("TEMP");
  return std::string(dir != nullptr ? dir : "") + "\\0.mps";
}

std::tm MapScriptWriter::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  return local;
}

}  // namespace rigplot
