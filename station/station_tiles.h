// SPDX-License-Identifier: MIT
// The page's own map tiles from an MBTiles file (--tiles mbtiles:PATH).
// Thread: the front end's, once while the command line is read.
#pragma once

#include <string>

#include "web/web_server.h"

namespace rigplot {

// Opens the file read-only and points the page at it: the tile paths under
// /tiles/, the layer's zooms, bounds and centre, and its attribution. False
// with the reason when the file is missing, damaged or holds vector tiles.
bool UseMbTiles(const std::string& path, WebSettings& web, std::string& error);

}  // namespace rigplot
