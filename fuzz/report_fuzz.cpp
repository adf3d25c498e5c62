// SPDX-License-Identifier: MIT
// Fuzz target: any bytes off the air, cut into any reads, through the parser,
// the station table and the map-script, GeoJSON and KML rendering behind it.
// The parser's block entry takes the reads, its byte entry the same bytes one
// at a time: both must complete the same reports on the same bytes and agree
// on the state and the fields at the end of every read.
//
// Input layout: byte 0 picks how many stations are in the table beforehand
// (0 to 100, so eviction is in reach), bytes 1 to 8 the sizes of the reads
// the rest is cut into, round and round; the rest is the line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "report/report_parser.h"
#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"
#include "tests/support/nmea.h"

namespace {

using rigplot::PendingReport;
using rigplot::ReportParser;
using rigplot::StationTable;

constexpr std::size_t kHeader = 9;
// pos, oid, gid, str and info: five quoted values on every point line.
constexpr int kPointLineQuotes = 10;

void Require(bool ok, const char* broken) {
  if (ok) return;
  std::fprintf(stderr, "report_fuzz: %s\n", broken);
  std::abort();
}

// The parser's caps hold after every read, not only when a report completes.
void CheckCaps(const PendingReport& r) {
  Require(r.callsign.size() <= ReportParser::kMaxCallsign, "callsign over 8 bytes");
  Require(r.repeater.size() <= ReportParser::kMaxCallsign, "repeater over 8 bytes");
  Require(r.symbol.size() <= ReportParser::kMaxSymbol, "symbol over 2 bytes");
  Require(r.message.size() <= ReportParser::kMaxMessage, "message over 18 bytes");
  for (char c : r.message)
    Require((static_cast<unsigned char>(c) & 0x80) == 0, "message not 7-bit");
  for (const std::string* field :
       {&r.utcTime, &r.latitude, &r.longitude, &r.speedKnots, &r.course, &r.utcDate}) {
    Require(field->size() <= ReportParser::kMaxSentenceField, "sentence field over 32 bytes");
  }
}

// Header, 95 group lines, one point line per station, count, display and end
// lines; every line ends in CR LF and nothing from the air adds a quote.
void CheckRender(const StationTable& table) {
  static std::string out;
  std::tm now{};
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 7;
  rigplot::MapScriptWriter::Render(out, "/tmp/0.mps", table, now);
  const std::string_view file = out;
  std::size_t lines = 0;
  int points = 0;
  for (std::size_t start = 0; start < file.size(); ++lines) {
    const std::size_t end = file.find("\r\n", start);
    Require(end != std::string_view::npos, "last line without CR LF");
    const std::string_view line = file.substr(start, end - start);
    Require(line.find_first_of("\r\n") == std::string_view::npos, "CR or LF inside a line");
    if (line.starts_with("point pos=")) {
      ++points;
      int quotes = 0;
      for (char c : line) quotes += c == '"';
      Require(quotes == kPointLineQuotes, "double quote inside a station's texts");
    }
    start = end + 2;
  }
  Require(table.count() <= StationTable::kSlots, "count over 100");
  Require(points == table.count(), "point lines differ from the count");
  Require(lines == 3u + 95u + static_cast<std::size_t>(table.count()) + 3u, "wrong line count");
}

// Valid UTF-8 with no control byte but the line feed, and `marker` once per
// station: nothing from the air opened or closed a value.
void CheckOpenFormat(const std::string& out, std::string_view marker, int count,
                     const char* format) {
  for (std::size_t i = 0; i < out.size();) {
    const auto b = static_cast<unsigned char>(out[i]);
    const std::size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 0;
    Require(length != 0 && (length == 1 || b >= 0xC2) && i + length <= out.size(), format);
    for (std::size_t k = 1; k < length; ++k) {
      Require((static_cast<unsigned char>(out[i + k]) & 0xC0) == 0x80, format);
    }
    Require(b >= 0x20 || b == '\n', format);
    i += length;
  }
  int found = 0;
  for (std::size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1))
    ++found;
  Require(found == count, format);
}

void CheckOpenFormats(const StationTable& table) {
  static std::string out;
  rigplot::RenderGeoJson(out, table);
  CheckOpenFormat(out, "{\"type\":\"Feature\"", table.count(), "GeoJSON broken");
  rigplot::RenderKml(out, table);
  CheckOpenFormat(out, "]]>", table.count(), "KML broken");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  ReportParser block(&rigplot::test::FixedClock);
  ReportParser bytes(&rigplot::test::FixedClock);
  StationTable table;
  std::scoped_lock lock(table.mutex());
  PendingReport before;
  for (int i = 0; i < data[0] % (StationTable::kSlots + 1); ++i) {
    before.callsign = "PRE" + std::to_string(i);
    table.StoreReport(before);
  }
  CheckRender(table);

  std::size_t at = kHeader;
  for (int read = 0; at < size; ++read) {
    const std::size_t end = std::min(size, at + 1 + data[1 + read % 8]);
    while (at < end) {
      const ReportParser::FeedResult r = block.feed(data + at, end - at);
      Require(r.consumed > 0 && r.consumed <= end - at, "feed took no byte or too many");
      for (const std::size_t last = at + r.consumed; at < last; ++at) {
        const bool completed = bytes.feedByte(data[at]);
        Require(completed == (r.completed && at + 1 == last), "entries completed on other bytes");
      }
      if (!r.completed) continue;
      Require(block.report() == bytes.report(), "entries completed different reports");
      CheckCaps(block.report());
      table.StoreReport(block.report());
      CheckRender(table);
      CheckOpenFormats(table);
    }
    Require(block.state() == bytes.state() && block.report() == bytes.report(),
            "entries differ at the end of a read");
    CheckCaps(block.report());
  }
  return 0;
}
