// SPDX-License-Identifier: MIT
// The page's files, built into the program (web/embed_assets.cmake makes the
// table from web/page and Debian's Leaflet), so the page works offline and
// no file is read for a request. Their compressed forms are made by the build,
// so that no request costs a compression.
#pragma once

#include <string_view>

namespace rigplot {

struct PageAsset {
  const char* path;  // the fixed request path, "/" for the page
  const char* contentType;
  std::string_view body;
  std::string_view gzip;    // body as gzip
  std::string_view brotli;  // body as brotli; empty when the build had no brotli
  const char* tag;          // hex digest of body, for a strong ETag
};

// The asset served at exactly `path`, or null.
const PageAsset* FindPageAsset(std::string_view path);

}  // namespace rigplot
