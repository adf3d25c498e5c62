// SPDX-License-Identifier: MIT
// Fuzz target: any query string a client may send to the page's track paths.
// The answer is 200 or a 400 of one line; a 200 is a whole GeoJSON or GPX
// document, whatever the query held.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "history/history_db.h"
#include "history/tracks.h"

namespace {

constexpr std::int64_t kNow = 1765324800;  // 2025-12-10T00:00:00Z

void Require(bool ok, const char* broken, std::string_view query) {
  if (ok) return;
  std::fprintf(stderr, "track_query_fuzz: %s for '%.*s'\n", broken, static_cast<int>(query.size()),
               query.data());
  std::abort();
}

// Two stations with a few points each, one text of every awkward kind.
rigplot::HistoryDb& Db() {
  static rigplot::HistoryDb db = [] {
    rigplot::HistoryDb made;
    std::string error;
    if (made.Open(":memory:", false, error) != rigplot::HistoryOpen::kOpened) {
      std::fprintf(stderr, "track_query_fuzz: %s\n", error.c_str());
      std::abort();
    }
    for (int i = 0; i < 40; ++i) {
      rigplot::HistoryRow row;
      row.received = kNow - 3600 * (i % 20);
      row.callsign = i % 2 ? "JA1ABC" : "JH2XYZ A";
      row.latitude = 35.0 + i / 100.0;
      row.longitude = 139.0 + i / 100.0;
      row.message = "<&\"'=cmd\x01\xe6\x97\xa5";
      row.receiver = i % 3 ? "" : "hill1";
      if (!made.Insert(row, error)) std::abort();
    }
    return made;
  }();
  return db;
}

void Check(const rigplot::TrackReply& reply, std::string_view query, std::string_view head,
           std::string_view tail) {
  if (reply.status == 400) {
    Require(!reply.body.empty() && reply.body.find('\n') == reply.body.size() - 1,
            "a 400 that is not one line", query);
    return;
  }
  Require(reply.status == 200, "neither 200 nor 400", query);
  Require(reply.body.compare(0, head.size(), head) == 0, "a document that does not begin whole",
          query);
  const std::size_t end = reply.body.find_last_not_of('\n') + 1;
  Require(end >= tail.size() && reply.body.compare(end - tail.size(), tail.size(), tail) == 0,
          "a document that does not end whole", query);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view query(reinterpret_cast<const char*>(data), size);
  Check(rigplot::AnswerTracks(Db(), query, kNow), query, "{\"type\":\"FeatureCollection\"", "]}");
  Check(rigplot::AnswerTrackGpx(Db(), query, kNow), query, "<?xml", "</gpx>");
  return 0;
}
