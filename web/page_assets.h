// The page's files, built into the program (web/embed_assets.cmake makes the
// table from web/page and Debian's Leaflet), so the page works offline and
// no file is read for a request.
#pragma once

#include <string_view>

namespace rigplot {

struct PageAsset {
  const char* path;  // the fixed request path, "/" for the page
  const char* contentType;
  std::string_view body;
};

// The asset served at exactly `path`, or null.
const PageAsset* FindPageAsset(std::string_view path);

}  // namespace rigplot
