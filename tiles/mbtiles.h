// SPDX-License-Identifier: MIT
// An MBTiles file of raster map tiles, read for the page.
//
// The file is one SQLite database: `metadata(name, value)` and
// `tiles(zoom_level, tile_column, tile_row, tile_data)`, rows counted from the
// south (TMS), so the page's y is flipped here. Only PNG, JPEG and WebP tiles
// are served; vector tiles (pbf) need a renderer the page does not have.
//
// Owns: one read-only connection and its prepared statement.
// Invariants: the file is never written; a tile read is one indexed lookup.
// Thread: any; reads are serialised on the one connection.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace rigplot {

struct TileSetInfo {
  std::string format;       // png, jpg, webp
  std::string contentType;  // image/png, image/jpeg, image/webp
  std::string name;
  std::string attribution;  // as the file has it, HTML possibly
  int minZoom = 0;
  int maxZoom = 22;
  std::optional<std::array<double, 4>> bounds;  // west, south, east, north
  std::optional<std::array<double, 3>> center;  // longitude, latitude, zoom
};

class MbTiles {
 public:
  // Null with the reason in `error` when the file is missing, not SQLite,
  // not an MBTiles file or holds tiles the page cannot show.
  static std::unique_ptr<MbTiles> Open(const std::string& path, std::string& error);
  ~MbTiles();
  MbTiles(const MbTiles&) = delete;
  MbTiles& operator=(const MbTiles&) = delete;

  const TileSetInfo& info() const { return m_info; }

  enum class Tile { kFound, kMissing, kUnreadable };

  // The tile at z/x/y, y counted from the north as the page asks. A file
  // damaged or taken away since the start is unreadable, not missing.
  Tile Read(int z, int x, int y, std::string& bytes);

 private:
  MbTiles() = default;

  sqlite3* m_db = nullptr;
  sqlite3_stmt* m_read = nullptr;
  std::mutex m_lock;
  TileSetInfo m_info;
};

// "5/28/12", "5/28/12.png": the zoom, column and row of a tile path; false
// for anything else, or numbers outside the zoom's grid.
bool ParseTilePath(std::string_view path, int& z, int& x, int& y);

// The options the page's tile layer takes from the file, as a JSON object:
// {"minZoom":..,"maxZoom":..,"bounds":[[s,w],[n,e]],"center":[lat,lon,zoom]}.
std::string TileLayerOptions(const TileSetInfo& info);

// A strong entity tag of a tile's bytes, quoted.
std::string TileTag(std::string_view bytes);

}  // namespace rigplot
