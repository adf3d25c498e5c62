#include "stations/station_view.h"

#include <array>

#include "stations/radio_text.h"

namespace rigplot {
namespace {

// The catalogue's names in UTF-8, read once.
std::string_view GroupName(const IconGroup* group) {
  static const std::array<std::string, kIconGroupCount> names = [] {
    std::array<std::string, kIconGroupCount> made;
    for (int i = 0; i < kIconGroupCount; ++i) AppendUtf8(made[i], IconGroups()[i].gname);
    return made;
  }();
  return group == nullptr ? std::string_view() : names[group - IconGroups()];
}

void Read(std::string& to, std::string_view cp932) {
  to.clear();
  AppendUtf8(to, cp932);
}

// A character of the UTC date or time for the information text: each byte
// read on its own, as the map script takes them one by one.
void AppendFieldChar(std::string& out, const std::string& field, std::size_t index) {
  if (index >= field.size()) {
    out += '-';
  } else {
    AppendUtf8(out, std::string_view(field).substr(index, 1));
  }
}

}  // namespace

void BuildStationView(StationView& view, const StationRecord& station) {
  view.hasPosition = ReadPosition(station, view.latitude, view.longitude);
  view.hasCourse = ReadCourse(station.course, view.course);
  view.speedKmh = SpeedKmh(station.speedKnots);
  view.headingClass = HeadingClassOf(station.course);
  const std::string gid = GroupIdFor(station.symbol, view.headingClass);
  view.group = FindIconGroup(gid);
  Read(view.gid, gid);
  view.groupName = GroupName(view.group);
  view.receivedTime = station.receivedTime;
  char text[kFieldTextSize];
  view.receivedIso.assign(text, FormatLocalIso(station.receivedTime, text));
  Read(view.callsign, station.callsign);
  Read(view.repeater, station.repeater);
  Read(view.symbol, station.symbol);
  Read(view.message, station.message);
  Read(view.utcDate, station.utcDate);
  Read(view.utcTime, station.utcTime);
  Read(view.courseText, station.course);
  Read(view.receivedAt, ReceivedAtText(station));
  std::string& out = view.dataTime;
  out.clear();
  for (std::size_t i : {4, 5, 2, 3, 0, 1}) {
    AppendFieldChar(out, station.utcDate, i);
    if (i == 3 || i == 5) out += '/';
  }
  out += ' ';
  for (std::size_t i : {0, 1, 2, 3, 4, 5}) {
    AppendFieldChar(out, station.utcTime, i);
    if (i == 1 || i == 3) out += ':';
  }
}

std::size_t FormatFiniteKmh(float kmh, char (&text)[kFieldTextSize]) {
  const std::size_t length = FormatKmh(kmh, text);
  // Two decimals end a finite figure; "inf" and "nan" end in a letter.
  return length > 0 && text[length - 1] >= '0' && text[length - 1] <= '9' ? length : 0;
}

}  // namespace rigplot
