// SPDX-License-Identifier: MIT
// A report as a hub takes it from the broker: one GeoJSON Feature, as a
// receiver publishes it, read back into the decoded view every output
// formats, with the receiver that heard it.
//
// Pure: no connection, no thread. A payload that is not such a Feature is
// refused with the reason, never guessed at: the hub counts it and goes on.
// Thread: any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "stations/station_view.h"

namespace rigplot {

// Why a payload was dropped; kNone when it was read.
enum class HubDrop {
  kNone,
  kOversized,       // over kMaxHubPayload bytes
  kNotJson,         // does not parse
  kNotFeature,      // parses, but is no Feature with a callsign and a receiver
  kBadCoordinates,  // a Point whose numbers are no place on Earth
  kWrongType,       // a property of the wrong type or too long
  kCount
};

// A Feature with every property at its longest is well under this.
inline constexpr std::size_t kMaxHubPayload = 4096;

const char* HubDropName(HubDrop drop);

struct HubReport {
  StationView view;  // groupName points into `groupName` once placed (PlaceGroupName)
  std::string groupName;
  std::string receiver;
  // yymmddhhmmss from the report's UTC date and time; 0 when they do not read.
  std::uint64_t fixKey = 0;

  // Points the view's group name at this report's own copy: after a copy or
  // move, before the view is formatted.
  void PlaceGroupName() { view.groupName = groupName; }
};

// Reads `payload` into `out`, reusing its strings' room.
HubDrop ReadHubReport(std::string_view payload, HubReport& out);

}  // namespace rigplot
