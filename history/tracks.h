// SPDX-License-Identifier: MIT
// Tracks read from the history file: GeoJSON for the page, GPX 1.1 and CSV
// for export, and the times and texts they carry.
// Thread: any, each with its own HistoryDb.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "history/history_db.h"

namespace rigplot {

// At most this many points in one answer; older ones are thinned first.
inline constexpr std::int64_t kMaxTrackPoints = 10000;

// "2026-12-09T12:14:05Z", "2026-12-09T21:14:05+09:00" or "2026-12-09" (UTC
// midnight) as Unix seconds. False for anything else, or a year outside
// 1970 to 9999.
bool ParseIsoTime(std::string_view text, std::int64_t& seconds);
// Unix seconds as "2026-12-09T12:14:05Z".
std::string FormatIsoTime(std::int64_t seconds);

// Text stored as UTF-8, escaped for JSON (with '<', '>', '&' as escapes),
// XML character data and one CSV field. Bytes that are not UTF-8 become
// U+FFFD, and control bytes that XML cannot hold become spaces.
void AppendJsonUtf8(std::string& out, std::string_view utf8);
void AppendXmlUtf8(std::string& out, std::string_view utf8);
void AppendCsvUtf8(std::string& out, std::string_view utf8);
// The text with every byte sequence that is not UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view bytes);

struct TrackQuery {
  std::string callsign;  // empty: every station
  std::int64_t since = 0;
  std::int64_t until = INT64_MAX;
  std::int64_t maxPoints = kMaxTrackPoints;
};

// A FeatureCollection with one LineString Feature per station that has a
// position: callsign, receivers, first and last time, point count.
bool RenderTracksGeoJson(HistoryDb& db, const TrackQuery& query, std::string& out,
                         std::string& error);
// One station's track as GPX 1.1: trk, trkseg, trkpt with time.
bool RenderTrackGpx(HistoryDb& db, const TrackQuery& query, std::string& out, std::string& error);
// Every report, in the report log's columns with the time in UTC, so that
// an export imports again.
bool RenderTrackCsv(HistoryDb& db, const TrackQuery& query, std::string& out, std::string& error);

}  // namespace rigplot

namespace rigplot {

// An answer to one of the page's track paths.
struct TrackReply {
  int status = 200;
  const char* contentType = "text/plain; charset=utf-8";
  std::string body;
};

// /tracks.geojson?since=ISO8601[&callsign=CALL] and
// /track.gpx?callsign=CALL[&since=ISO8601]: `query` as it follows '?'.
// `since` defaults to six hours before `now`. A parameter that is unknown,
// repeated, empty or does not read gets 400 with a one-line reason.
TrackReply AnswerTracks(HistoryDb& db, std::string_view query, std::int64_t now);
TrackReply AnswerTrackGpx(HistoryDb& db, std::string_view query, std::int64_t now);

}  // namespace rigplot
