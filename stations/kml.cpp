#include "stations/kml.h"

#include <cstdlib>
#include <string_view>

#include "stations/icon_groups.h"
#include "stations/info_text.h"
#include "stations/radio_text.h"
#include "stations/report_fields.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"

namespace rigplot {
namespace {

// Icons from the standard set that Google Earth ships and loads by address;
// a viewer without them draws its own pin, and the file stays whole. A moving
// station is an arrow turned to its heading, in one colour per group.
constexpr char kIconBase[] = "https://maps.google.com/mapfiles/kml/shapes/";
constexpr const char* kMovingColours[5] = {"ff0000ff", "ff00a5ff", "ff00ff00", "ffff0000",
                                           "ffff00ff"};  // aabbggrr
constexpr const char* kFixedIcons[10] = {
    "target.png",      "homegardenbusiness.png",
    "shopping.png",    "info-i.png",
    "coffee.png",      "golf.png",
    "sailing.png",     "fishing.png",
    "parking_lot.png", "dining.png",
};

// A style id from a gid: an XML name may not start with a digit.
void AppendStyleId(std::string& out, std::string_view gid) {
  out += 'g';
  out += gid;
}

// The Document's head with every group's style; it never changes.
const std::string& Head() {
  static const std::string head = [] {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
        "<Document>\n<name>RIGPLOT</name>\n";
    for (int i = 0; i < kIconGroupCount; ++i) {
      const IconGroup& group = IconGroups()[i];
      const std::string_view gid = group.gid;
      text += "<Style id=\"";
      AppendStyleId(text, gid);
      text += "\"><IconStyle>";
      const char moving = gid[0];
      if (gid.size() <= 4 && moving >= '0' && moving <= '4' && (gid.size() == 1 || gid[1] == '.')) {
        text += "<color>";
        text += kMovingColours[moving - '0'];
        text += "</color>";
        if (gid.size() > 1) {
          // Subgroup N points to N sixteenths of a turn from north.
          const int sector = std::atoi(group.gid + 2);
          text += "<heading>";
          text += std::to_string(sector * 45 / 2);
          if (sector % 2 != 0) text += ".5";
          text += "</heading>";
        }
        // A group's own style (a course past 371 degrees) has no heading: a round mark.
        text += "<Icon><href>";
        text += kIconBase;
        text += gid.size() > 1 ? "track.png" : "placemark_circle.png";
      } else {
        text += "<Icon><href>";
        text += kIconBase;
        text += kFixedIcons[std::atoi(group.gid) - 5];
      }
      text += "</href></Icon></IconStyle><LabelStyle><scale>0.8</scale></LabelStyle></Style>\n";
    }
    return text;
  }();
  return head;
}

// The description is HTML, as the globes show it: the map script's labels
// in UTF-8 with a line break where the script has "\n".
const InfoTextLabels& DescriptionLabels() {
  struct Labels {
    std::string texts[7];
    InfoTextLabels view;
  };
  static const Labels labels = [] {
    Labels made;
    const std::string_view from[7] = {kInfoTextLabels.received, kInfoTextLabels.dataTime,
                                      kInfoTextLabels.speed,    kInfoTextLabels.course,
                                      kInfoTextLabels.repeater, kInfoTextLabels.message,
                                      kInfoTextLabels.end};
    for (int i = 0; i < 7; ++i) {
      std::string utf8;
      AppendUtf8(utf8, from[i]);
      AppendXmlText(made.texts[i], utf8);
      for (std::size_t at = made.texts[i].find("\\n"); at != std::string::npos;
           at = made.texts[i].find("\\n", at)) {
        made.texts[i].replace(at, 2, "<br/>");
      }
    }
    made.view = {made.texts[0], made.texts[1], made.texts[2], made.texts[3],
                 made.texts[4], made.texts[5], made.texts[6]};
    return made;
  }();
  return labels.view;
}

// The map script's information text (info_text.h) with the description's
// labels, from the decoded view.
void AppendDescription(std::string& out, const StationView& station) {
  const InfoTextLabels& labels = DescriptionLabels();
  out += labels.received;
  AppendXmlText(out, station.receivedAt);
  out += labels.dataTime;
  AppendXmlText(out, station.dataTime);
  out += labels.speed;
  char speed[kFieldTextSize];
  const std::size_t length = FormatKmh(station.speedKmh, speed);
  if (length < 6) out.append(6 - length, ' ');
  out.append(speed, length);
  out += labels.course;
  AppendXmlText(out, station.courseText);
  out += labels.repeater;
  AppendXmlText(out, station.repeater);
  out += labels.message;
  AppendXmlText(out, station.message);
  out += labels.end;
}

void AppendPlacemark(std::string& out, const StationView& station,
                     const std::function<void(std::string&)>& more = {}) {
  out += "<Placemark><name>";
  AppendXmlText(out, station.callsign);
  // Received texts are escaped, so "]]>" cannot occur inside the section.
  out += "</name><description><![CDATA[";
  AppendDescription(out, station);
  if (more) more(out);
  out += "]]></description>";
  if (station.group != nullptr) {
    out += "<styleUrl>#";
    AppendStyleId(out, station.gid);
    out += "</styleUrl>";
  }
  if (station.hasPosition) {
    char text[kFieldTextSize];
    out += "<Point><coordinates>";
    out.append(text, FormatDegrees(station.longitude, text));
    out += ',';
    out.append(text, FormatDegrees(station.latitude, text));
    out += "</coordinates></Point>";
  }
  out += "</Placemark>\n";
}

}  // namespace

void RenderKml(std::string& out, const StationTable& table) {
  out.clear();
  out += Head();
  const int count = table.count();
  for (int i = 0; i < count; ++i) AppendPlacemark(out, table.view(i));
  out += "</Document>\n</kml>\n";
}

void RenderKmlViews(std::string& out, std::size_t count,
                    const std::function<const StationView&(std::size_t)>& view,
                    const std::function<void(std::string&, std::size_t)>& more) {
  out.clear();
  out += Head();
  for (std::size_t i = 0; i < count; ++i) {
    AppendPlacemark(out, view(i), [&](std::string& text) { more(text, i); });
  }
  out += "</Document>\n</kml>\n";
}

}  // namespace rigplot
