#include "station/station_tiles.h"

#include <memory>

#include "tiles/mbtiles.h"

namespace rigplot {
namespace {

// The file's attribution may be HTML; the page shows it as text.
std::string PlainText(const std::string& html) {
  std::string text;
  bool inTag = false;
  for (const char c : html) {
    if (c == '<') inTag = true;
    if (!inTag) text += c;
    if (c == '>') inTag = false;
  }
  return text;
}

}  // namespace

bool UseMbTiles(const std::string& path, WebSettings& web, std::string& error) {
  std::shared_ptr<MbTiles> tiles = MbTiles::Open(path, error);
  if (!tiles) return false;
  const TileSetInfo& info = tiles->info();
  web.tilesUrl = "/tiles/{z}/{x}/{y}";
  web.tilesOptions = TileLayerOptions(info);
  web.tilesAttribution = PlainText(info.attribution.empty() ? info.name : info.attribution);
  web.routes["/tiles/"] = [tiles](std::string_view rest) {
    int z = 0;
    int x = 0;
    int y = 0;
    WebAnswer answer;
    const MbTiles::Tile found =
        ParseTilePath(rest, z, x, y) ? tiles->Read(z, x, y, answer.body) : MbTiles::Tile::kMissing;
    if (found == MbTiles::Tile::kUnreadable) {
      return WebAnswer(503, "text/plain; charset=utf-8", "The tile file cannot be read.\n");
    }
    if (found == MbTiles::Tile::kMissing) {
      // Leaflet asks beyond the file's edges; a quick 404 with no caching
      // surprises nobody.
      return WebAnswer(404, "text/plain; charset=utf-8", "No such tile.\n");
    }
    answer.contentType = tiles->info().contentType;
    answer.etag = TileTag(answer.body);
    // The file does not change while it is served; a new file is a restart.
    answer.headers = "Cache-Control: public, max-age=86400\r\n";
    return answer;
  };
  return true;
}

}  // namespace rigplot
