#include "tiles/mbtiles.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdio>
#include <vector>

namespace rigplot {
namespace {

// Up to four numbers separated by commas, as bounds and center are written.
template <std::size_t N>
std::optional<std::array<double, N>> Numbers(const std::string& text) {
  std::array<double, N> out{};
  const char* at = text.data();
  const char* end = at + text.size();
  for (std::size_t i = 0; i < N; ++i) {
    while (at < end && *at == ' ') ++at;
    const auto [next, ec] = std::from_chars(at, end, out[i]);
    if (ec != std::errc()) return std::nullopt;
    at = next;
    while (at < end && *at == ' ') ++at;
    if (i + 1 < N) {
      if (at == end || *at != ',') return std::nullopt;
      ++at;
    }
  }
  if (at != end) return std::nullopt;
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

std::unique_ptr<MbTiles> MbTiles::Open(const std::string& path, std::string& error) {
  std::unique_ptr<MbTiles> tiles(new MbTiles);
  // Read-only: no journal, no lock file, and a missing file stays missing.
  if (sqlite3_open_v2(path.c_str(), &tiles->m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    error = path + ": cannot open: " + sqlite3_errmsg(tiles->m_db);
    return nullptr;
  }
  sqlite3_busy_timeout(tiles->m_db, 2000);
  sqlite3_stmt* meta = nullptr;
  int rc = sqlite3_prepare_v2(tiles->m_db, "SELECT name, value FROM metadata", -1, &meta, nullptr);
  TileSetInfo& info = tiles->m_info;
  std::string minZoom;
  std::string maxZoom;
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(meta);
    if (rc != SQLITE_ROW) break;
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(meta, 0));
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(meta, 1));
    if (name == nullptr || value == nullptr) continue;
    const std::string_view key = name;
    if (key == "format") info.format = value;
    if (key == "name") info.name = value;
    if (key == "attribution") info.attribution = value;
    if (key == "minzoom") minZoom = value;
    if (key == "maxzoom") maxZoom = value;
    if (key == "bounds") info.bounds = Numbers<4>(value);
    if (key == "center") info.center = Numbers<3>(value);
  }
  sqlite3_finalize(meta);
  if (rc != SQLITE_DONE) {
    error = path + ": not an MBTiles file (" + sqlite3_errmsg(tiles->m_db) + ")";
    return nullptr;
  }
  if (info.format == "png") {
    info.contentType = "image/png";
  } else if (info.format == "jpg" || info.format == "jpeg") {
    info.contentType = "image/jpeg";
  } else if (info.format == "webp") {
    info.contentType = "image/webp";
  } else if (info.format == "pbf") {
    error = path + ": holds vector tiles (pbf); the page shows raster tiles only (png, jpg, webp)";
    return nullptr;
  } else {
    error = path + ": tile format '" + info.format + "' is not png, jpg or webp";
    return nullptr;
  }
  const auto zoom = [](const std::string& text, int fallback) {
    int value = fallback;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= 30
               ? value
               : fallback;
  };
  info.minZoom = zoom(minZoom, 0);
  info.maxZoom = zoom(maxZoom, 22);
  if (info.maxZoom < info.minZoom) info.maxZoom = info.minZoom;
  // The table is checked now, not at the first request: a file that reads
  // its metadata but has no tiles table is refused at start.
  rc = sqlite3_prepare_v2(tiles->m_db,
                          "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND "
                          "tile_column = ?2 AND tile_row = ?3",
                          -1, &tiles->m_read, nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_stmt* any = nullptr;
    rc = sqlite3_prepare_v2(tiles->m_db, "SELECT count(*) FROM (SELECT 1 FROM tiles LIMIT 1)", -1,
                            &any, nullptr);
    if (rc == SQLITE_OK)
      rc = sqlite3_step(any) == SQLITE_ROW ? SQLITE_OK : sqlite3_errcode(tiles->m_db);
    sqlite3_finalize(any);
  }
  if (rc != SQLITE_OK) {
    error = path + ": not an MBTiles file (" + sqlite3_errmsg(tiles->m_db) + ")";
    return nullptr;
  }
  return tiles;
}

MbTiles::~MbTiles() {
  sqlite3_finalize(m_read);
  sqlite3_close(m_db);
}

MbTiles::Tile MbTiles::Read(int z, int x, int y, std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_lock);
  const int row = (1 << z) - 1 - y;
  sqlite3_reset(m_read);
  sqlite3_bind_int(m_read, 1, z);
  sqlite3_bind_int(m_read, 2, x);
  sqlite3_bind_int(m_read, 3, row);
  const int rc = sqlite3_step(m_read);
  if (rc == SQLITE_DONE) return Tile::kMissing;
  if (rc != SQLITE_ROW) {
    sqlite3_reset(m_read);
    return Tile::kUnreadable;
  }
  const void* data = sqlite3_column_blob(m_read, 0);
  const int size = sqlite3_column_bytes(m_read, 0);
  bytes.assign(static_cast<const char*>(data),
               data != nullptr ? static_cast<std::size_t>(size) : 0);
  sqlite3_reset(m_read);
  return Tile::kFound;
}

bool ParseTilePath(std::string_view path, int& z, int& x, int& y) {
  if (const auto dot = path.find('.'); dot != std::string_view::npos) {
    const std::string_view ext = path.substr(dot + 1);
    if (ext != "png" && ext != "jpg" && ext != "jpeg" && ext != "webp") return false;
    path = path.substr(0, dot);
  }
  int* parts[] = {&z, &x, &y};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t slash = i < 2 ? path.find('/') : path.size();
    if (slash == std::string_view::npos || slash == 0) return false;
    const auto [end, ec] = std::from_chars(path.data(), path.data() + slash, *parts[i]);
    if (ec != std::errc() || end != path.data() + slash) return false;
    path = i < 2 ? path.substr(slash + 1) : std::string_view();
  }
  if (z < 0 || z > 30) return false;
  const long long side = 1LL << z;
  return x >= 0 && y >= 0 && x < side && y < side;
}

std::string TileLayerOptions(const TileSetInfo& info) {
  std::string json = "{\"minZoom\":" + std::to_string(info.minZoom) +
                     ",\"maxZoom\":" + std::to_string(info.maxZoom);
  if (info.bounds) {
    const auto& b = *info.bounds;
    json += ",\"bounds\":[[" + Number(b[1]) + "," + Number(b[0]) + "],[" + Number(b[3]) + "," +
            Number(b[2]) + "]]";
  }
  if (info.center) {
    const auto& c = *info.center;
    json += ",\"center\":[" + Number(c[1]) + "," + Number(c[0]) + "," + Number(c[2]) + "]";
  }
  return json + "}";
}

std::string TileTag(std::string_view bytes) {
  // FNV-1a over the bytes and their length: the same tile, the same tag.
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  char text[48];
  std::snprintf(text, sizeof text, "\"%016llx-%zx\"", static_cast<unsigned long long>(hash),
                bytes.size());
  return text;
}

}  // namespace rigplot
