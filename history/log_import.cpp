#include "history/log_import.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "history/tracks.h"

namespace rigplot {
namespace {

// One RFC 4180 record from `at`; false at the end of the text. A quote left
// open runs to the end of the text.
bool NextRecord(std::string_view csv, std::size_t& at, std::vector<std::string>& fields) {
  fields.clear();
  if (at >= csv.size()) return false;
  std::string field;
  bool quoted = false;
  for (; at < csv.size(); ++at) {
    const char c = csv[at];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (at + 1 < csv.size() && csv[at + 1] == '"') {
        field += '"';
        ++at;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.push_back(std::move(field));
      field.clear();
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && at + 1 < csv.size() && csv[at + 1] == '\n') ++at;
      ++at;
      break;
    } else {
      field += c;
    }
  }
  fields.push_back(std::move(field));
  return true;
}

std::optional<double> Number(const std::string& text) {
  double value = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data(), last, value);
  if (text.empty() || ec != std::errc() || end != last) return std::nullopt;
  return value;
}

}  // namespace

bool ImportCsv(HistoryDb& db, std::string_view csv, ImportCounts& counts, std::string& error) {
  std::size_t at = 0;
  std::vector<std::string> header;
  if (csv.substr(0, 3) == "\xEF\xBB\xBF") at = 3;  // a byte order mark from a spreadsheet
  if (!NextRecord(csv, at, header)) return true;
  enum Column {
    kReceived,
    kCallsign,
    kRepeater,
    kSymbol,
    kLatitude,
    kLongitude,
    kSpeed,
    kCourse,
    kDate,
    kTime,
    kMessage,
    kReceiver,
    kColumns
  };
  static constexpr const char* kNames[kColumns] = {
      "received_at", "callsign", "repeater", "symbol",   "latitude", "longitude",
      "speed_kmh",   "course",   "utc_date", "utc_time", "message",  "receiver"};
  int index[kColumns];
  for (int c = 0; c < kColumns; ++c) {
    const auto found = std::find(header.begin(), header.end(), kNames[c]);
    index[c] = found == header.end() ? -1 : static_cast<int>(found - header.begin());
  }
  if (index[kReceived] < 0 || index[kCallsign] < 0) {
    error = "no received_at and callsign columns";
    return false;
  }
  if (!db.Begin(error)) return false;
  std::vector<std::string> fields;
  while (NextRecord(csv, at, fields)) {
    if (fields.size() == 1 && fields[0].empty()) continue;  // a blank line
    auto field = [&](Column c) -> std::string {
      if (index[c] < 0 || index[c] >= static_cast<int>(fields.size())) return std::string();
      std::string_view text = fields[index[c]];
      // The apostrophe the log puts before a text a spreadsheet would run.
      if (text.size() >= 2 && text[0] == '\'' &&
          std::string_view("=+-@'").find(text[1]) != std::string_view::npos) {
        text.remove_prefix(1);
      }
      return ValidUtf8(text);
    };
    HistoryRow row;
    row.callsign = field(kCallsign);
    if (!ParseIsoTime(field(kReceived), row.received) || row.callsign.empty()) {
      ++counts.skipped;
      continue;
    }
    row.repeater = field(kRepeater);
    row.symbol = field(kSymbol);
    row.latitude = Number(field(kLatitude));
    row.longitude = Number(field(kLongitude));
    row.speedKmh = Number(field(kSpeed));
    row.course = Number(field(kCourse));
    row.utcDate = field(kDate);
    row.utcTime = field(kTime);
    row.message = field(kMessage);
    row.receiver = field(kReceiver);
    bool added = false;
    if (!db.InsertIfNew(row, added, error)) {
      db.Rollback();
      return false;
    }
    ++(added ? counts.added : counts.present);
  }
  return db.Commit(error);
}

bool ImportLogDir(HistoryDb& db, const std::string& dir, ImportCounts& counts, std::string& error) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("rigplot-", 0) == 0 && it->path().extension() == ".csv")
      files.push_back(it->path());
  }
  if (ec) {
    error = dir + ": " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
      error = file.string() + ": cannot be read";
      return false;
    }
    if (!ImportCsv(db, text.str(), counts, error)) {
      error = file.string() + ": " + error;
      return false;
    }
    ++counts.files;
  }
  return true;
}

}  // namespace rigplot
