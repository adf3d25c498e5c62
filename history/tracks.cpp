#include "history/tracks.h"

#include <cstdio>
#include <set>

#include "stations/report_fields.h"

namespace rigplot {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const int era = year / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// The length of the UTF-8 sequence at `at`, 0 when it is not one.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Walks valid UTF-8, handing ASCII bytes to `ascii` and copying the rest.
template <typename Ascii>
void AppendEscaped(std::string& out, std::string_view text, Ascii ascii) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = SequenceLength(text, i);
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else if (length == 1) {
      ascii(out, text[i]);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
}

void AppendNumber(std::string& out, double value) {
  char text[kFieldTextSize];
  out.append(text, FormatNumber(value, text));
}

void AppendOptional(std::string& out, const std::optional<double>& value) {
  if (value) AppendNumber(out, *value);
}

// Reads the query's reports, thinning the oldest when there are too many.
bool ReadReports(HistoryDb& db, const TrackQuery& query,
                 const std::function<void(const HistoryRow&)>& visit, std::string& error) {
  const std::int64_t half = query.maxPoints / 2;
  std::int64_t count = 0;
  std::int64_t newestFrom = query.since;
  if (!db.CountReports(query.callsign, query.since, query.until, half, count, newestFrom, error)) {
    return false;
  }
  std::int64_t stride = 1;
  if (count > query.maxPoints && half > 0) stride = (count - half + half - 1) / half;
  std::int64_t seen = 0;
  return db.ForEachReport(
      query.callsign, query.since, query.until, stride > 1 ? newestFrom : query.since, stride,
      [&](const HistoryRow& row) {
        // Reports of one second beyond the newest half could still pass.
        if (++seen <= query.maxPoints) visit(row);
      },
      error);
}

}  // namespace

bool ParseIsoTime(std::string_view text, std::int64_t& seconds) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
      !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day)) {
    return false;
  }
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1]) {
    return false;
  }
  std::int64_t offset = 0;
  if (text.size() > 10) {
    if ((text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, hour) || text.size() < 19 ||
        text[13] != ':' || !Digits(text, 14, 2, minute) || text[16] != ':' ||
        !Digits(text, 17, 2, second) || hour > 23 || minute > 59 || second > 60) {
      return false;
    }
    const std::string_view zone = text.substr(19);
    int zoneHours = 0;
    int zoneMinutes = 0;
    if (zone == "Z") {
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') &&
               Digits(zone, 1, 2, zoneHours) && zone[3] == ':' && Digits(zone, 4, 2, zoneMinutes) &&
               zoneHours < 24 && zoneMinutes < 60) {
      offset = (zoneHours * 60 + zoneMinutes) * 60 * (zone[0] == '+' ? 1 : -1);
    } else if (!zone.empty()) {
      return false;
    }
  }
  seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
  return true;
}

std::string FormatIsoTime(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The inverse of DaysFromCivil.
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t mp = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

void AppendJsonUtf8(std::string& out, std::string_view utf8) {
  out += '"';
  AppendEscaped(out, utf8, [](std::string& to, char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      to += '\\';
      to += c;
    } else if (byte < 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '&') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      to += escape;
    } else {
      to += c;
    }
  });
  out += '"';
}

void AppendXmlUtf8(std::string& out, std::string_view utf8) {
  AppendEscaped(out, utf8, [](std::string& to, char c) {
    switch (c) {
      case '<':
        to += "&lt;";
        break;
      case '>':
        to += "&gt;";
        break;
      case '&':
        to += "&amp;";
        break;
      case '"':
        to += "&quot;";
        break;
      case '\'':
        to += "&apos;";
        break;
      case '\t':
        to += "&#9;";
        break;
      case '\n':
        to += "&#10;";
        break;
      case '\r':
        to += "&#13;";
        break;
      default:
        to += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  });
}

void AppendCsvUtf8(std::string& out, std::string_view utf8) {
  bool quote = false;
  for (const char c : utf8) {
    if (c == '"' || c == ',' || static_cast<unsigned char>(c) < 0x20) quote = true;
  }
  if (quote) out += '"';
  AppendEscaped(out, utf8, [](std::string& to, char c) {
    if (c == '"') to += '"';
    to += c;
  });
  if (quote) out += '"';
}

std::string ValidUtf8(std::string_view bytes) {
  std::string out;
  AppendEscaped(out, bytes, [](std::string& to, char c) { to += c; });
  return out;
}

bool RenderTracksGeoJson(HistoryDb& db, const TrackQuery& query, std::string& out,
                         std::string& error) {
  out = "{\"type\":\"FeatureCollection\",\"features\":[";
  std::string callsign;
  std::string coordinates;
  std::set<std::string> receivers;
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::int64_t points = 0;
  std::string lastPoint;
  bool any = false;
  auto flush = [&] {
    if (points == 0) return;
    // A LineString needs two positions: a station heard once stays put.
    if (points == 1) coordinates += "," + lastPoint;
    out += any ? ",\n" : "\n";
    any = true;
    out += R"({"type":"Feature","geometry":{"type":"LineString","coordinates":[)";
    out += coordinates;
    out += R"(]},"properties":{"callsign":)";
    AppendJsonUtf8(out, callsign);
    out += R"(,"receivers":[)";
    bool next = false;
    for (const std::string& receiver : receivers) {
      if (next) out += ',';
      next = true;
      AppendJsonUtf8(out, receiver);
    }
    out += R"(],"first":")" + FormatIsoTime(first) + R"(","last":")" + FormatIsoTime(last) +
           R"(","points":)" + std::to_string(points) + "}}";
  };
  const bool read = ReadReports(
      db, query,
      [&](const HistoryRow& row) {
        if (!row.latitude || !row.longitude) return;
        if (row.callsign != callsign || points == 0) {
          flush();
          callsign = row.callsign;
          coordinates.clear();
          receivers.clear();
          points = 0;
          first = row.received;
        }
        lastPoint = "[";
        AppendNumber(lastPoint, *row.longitude);
        lastPoint += ',';
        AppendNumber(lastPoint, *row.latitude);
        lastPoint += ']';
        if (points > 0) coordinates += ',';
        coordinates += lastPoint;
        receivers.insert(row.receiver);
        last = row.received;
        ++points;
      },
      error);
  flush();
  out += "\n]}\n";
  return read;
}

bool RenderTrackGpx(HistoryDb& db, const TrackQuery& query, std::string& out, std::string& error) {
  out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"rigplot\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
      "<trk><name>";
  AppendXmlUtf8(out, query.callsign);
  out += "</name><trkseg>\n";
  const bool read = ReadReports(
      db, query,
      [&](const HistoryRow& row) {
        if (!row.latitude || !row.longitude) return;
        // GPX takes longitudes from -180 up to but not including 180.
        const double longitude = *row.longitude >= 180 ? *row.longitude - 360 : *row.longitude;
        // Fixed decimals: xsd:decimal has no exponent.
        char text[kFieldTextSize];
        out += "<trkpt lat=\"";
        out.append(text, FormatDegrees(*row.latitude, text));
        out += "\" lon=\"";
        out.append(text, FormatDegrees(longitude, text));
        out += "\"><time>" + FormatIsoTime(row.received) + "</time>";
        if (!row.message.empty()) {
          out += "<cmt>";
          AppendXmlUtf8(out, row.message);
          out += "</cmt>";
        }
        out += "</trkpt>\n";
      },
      error);
  out += "</trkseg></trk>\n</gpx>\n";
  return read;
}

bool RenderTrackCsv(HistoryDb& db, const TrackQuery& query, std::string& out, std::string& error) {
  out =
      "received_at,callsign,repeater,symbol,latitude,longitude,speed_kmh,course,utc_date,"
      "utc_time,message,receiver\r\n";
  return ReadReports(
      db, query,
      [&](const HistoryRow& row) {
        out += FormatIsoTime(row.received);
        for (const std::string* text : {&row.callsign, &row.repeater, &row.symbol}) {
          out += ',';
          AppendCsvUtf8(out, *text);
        }
        for (const std::optional<double>* number :
             {&row.latitude, &row.longitude, &row.speedKmh, &row.course}) {
          out += ',';
          AppendOptional(out, *number);
        }
        for (const std::string* text : {&row.utcDate, &row.utcTime, &row.message, &row.receiver}) {
          out += ',';
          AppendCsvUtf8(out, *text);
        }
        out += "\r\n";
      },
      error);
}

}  // namespace rigplot

namespace rigplot {
namespace {

constexpr std::size_t kMaxParameters = 4;
constexpr std::size_t kMaxCallsign = 8;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Percent-decoding; '+' stays '+', so that "+09:00" in a time reads.
bool Decode(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || HexValue(text[i + 1]) < 0 || HexValue(text[i + 2]) < 0) {
      return false;
    }
    out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
    i += 2;
  }
  return true;
}

TrackReply BadRequest(std::string reason) {
  return {400, "text/plain; charset=utf-8", std::move(reason) + "\n"};
}

// A parameter's name as a refusal quotes it: short, and on the reason's one
// line whatever control bytes it held.
std::string ShownKey(std::string_view key) {
  std::string shown = ValidUtf8(key.substr(0, 32));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return shown;
}

// Reads callsign and since; the reason of a refusal in `reply`.
bool ReadQuery(std::string_view text, std::int64_t now, TrackQuery& query, TrackReply& reply) {
  query.since = now - 6 * 3600;
  bool haveSince = false;
  bool haveCallsign = false;
  std::size_t parameters = 0;
  while (!text.empty()) {
    const std::size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) continue;
    if (++parameters > kMaxParameters) {
      reply = BadRequest("too many parameters");
      return false;
    }
    const std::size_t eq = pair.find('=');
    const std::string_view key = pair.substr(0, eq);
    std::string value;
    if (eq == std::string_view::npos || !Decode(pair.substr(eq + 1), value) || value.empty()) {
      reply = BadRequest("parameter '" + ShownKey(key) + "' needs a value");
      return false;
    }
    if (key == "since" && !haveSince) {
      haveSince = true;
      if (!ParseIsoTime(value, query.since)) {
        reply = BadRequest("since: not an ISO 8601 time such as 2026-12-09T06:00:00Z");
        return false;
      }
    } else if (key == "callsign" && !haveCallsign) {
      haveCallsign = true;
      if (value.size() > kMaxCallsign) {
        reply = BadRequest("callsign: at most 8 characters");
        return false;
      }
      query.callsign = value;
    } else {
      reply = BadRequest("unknown or repeated parameter '" + ShownKey(key) + "'");
      return false;
    }
  }
  return true;
}

TrackReply Unreadable(const std::string& error) {
  return {503, "text/plain; charset=utf-8", "history not readable: " + error + "\n"};
}

}  // namespace

TrackReply AnswerTracks(HistoryDb& db, std::string_view query, std::int64_t now) {
  TrackQuery track;
  TrackReply reply;
  if (!ReadQuery(query, now, track, reply)) return reply;
  std::string error;
  if (!RenderTracksGeoJson(db, track, reply.body, error)) return Unreadable(error);
  reply.contentType = "application/geo+json";
  return reply;
}

TrackReply AnswerTrackGpx(HistoryDb& db, std::string_view query, std::int64_t now) {
  TrackQuery track;
  TrackReply reply;
  if (!ReadQuery(query, now, track, reply)) return reply;
  if (track.callsign.empty()) return BadRequest("callsign: needed for a GPX track");
  std::string error;
  if (!RenderTrackGpx(db, track, reply.body, error)) return Unreadable(error);
  reply.contentType = "application/gpx+xml";
  return reply;
}

}  // namespace rigplot
