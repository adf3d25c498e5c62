// SPDX-License-Identifier: MIT
// A station's information text: the map script's info value, and the KML
// description made from the same rule with its own labels.
// Thread: pure, callable from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "stations/report_fields.h"
#include "stations/station_table.h"

namespace rigplot {

// The fixed texts between the station's values, "\n" standing where a line
// ends. As the map script has them: code page 932.
struct InfoTextLabels {
  std::string_view received;  // before receivedAt
  std::string_view dataTime;  // before the UTC date and time
  std::string_view speed;     // before the speed
  std::string_view course;    // before the course
  std::string_view repeater;  // before the repeater
  std::string_view message;   // before the message
  std::string_view end;       // after it
};

inline constexpr InfoTextLabels kInfoTextLabels = {
    // 受信日時: and two blanks
    "\x8e\xf3\x90\x4d\x93\xfa\x8e\x9e"
    ":  ",
    // JST\nデータ日時: and one blank
    "JST\\n"
    "\x83\x66\x81\x5b\x83\x5e\x93\xfa\x8e\x9e"
    ": ",
    // UTC\n移動速度: and one blank
    "UTC\\n"
    "\x88\xda\x93\xae\x91\xac\x93\x78"
    ": ",
    // \n移動方向: and two blanks
    "\\n"
    "\x88\xda\x93\xae\x95\xfb\x8c\xfc"
    ":  ",
    // \nレピータ: and three blanks
    "\\n"
    "\x83\x8c\x83\x73\x81\x5b\x83\x5e"
    ":   ",
    // \nメッセージ: and two blanks
    "\\n"
    "\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57"
    ":  ",
    // \nグループ: 000
    "\\n"
    "\x83\x4f\x83\x8b\x81\x5b\x83\x76"
    ": 000",
};

// Appends the information text: `labels` as they are, every received text
// through `text(out, bytes)`. The UTC date and time read yy/mm/dd hh:mm:ss
// from ddmmyy and hhmmss, "-" for a character the field does not have; the
// speed is "%6.2f" of km/h.
template <typename Text>
void AppendInfoText(std::string& out, const StationRecord& station, const InfoTextLabels& labels,
                    Text text) {
  auto fieldChar = [&](const std::string& field, std::size_t index) {
    // A digit reads the same in every format: no call per digit.
    if (index < field.size() && field[index] >= '0' && field[index] <= '9') {
      out += field[index];
    } else if (index < field.size()) {
      text(out, std::string_view(field).substr(index, 1));
    } else {
      out += '-';
    }
  };
  out += labels.received;
  text(out, ReceivedAtText(station));
  out += labels.dataTime;
  fieldChar(station.utcDate, 4);
  fieldChar(station.utcDate, 5);
  out += '/';
  fieldChar(station.utcDate, 2);
  fieldChar(station.utcDate, 3);
  out += '/';
  fieldChar(station.utcDate, 0);
  fieldChar(station.utcDate, 1);
  out += ' ';
  fieldChar(station.utcTime, 0);
  fieldChar(station.utcTime, 1);
  out += ':';
  fieldChar(station.utcTime, 2);
  fieldChar(station.utcTime, 3);
  out += ':';
  fieldChar(station.utcTime, 4);
  fieldChar(station.utcTime, 5);
  out += labels.speed;
  char speed[kFieldTextSize];
  const std::size_t length = FormatSpeedKmh(station.speedKnots, speed);
  if (length < 6) out.append(6 - length, ' ');
  out.append(speed, length);
  out += labels.course;
  text(out, station.course);
  out += labels.repeater;
  text(out, station.repeater);
  out += labels.message;
  text(out, station.message);
  out += labels.end;
}

}  // namespace rigplot
