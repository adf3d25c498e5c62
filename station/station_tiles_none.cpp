#include "station/station_tiles.h"

namespace rigplot {

bool TilesBuilt() {
  return false;
}

bool UseMbTiles(const std::string&, WebSettings&, std::string& error) {
  error = "this build cannot read MBTiles files";
  return false;
}

}  // namespace rigplot
