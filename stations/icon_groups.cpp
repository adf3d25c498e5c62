#include "stations/icon_groups.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "stations/report_fields.h"

namespace rigplot {
namespace {

// Compass names of the sixteen direction subgroups, code page 932.
constexpr char kNorth[] = "\x96\x6b";                           // 北
constexpr char kNorthNortheast[] = "\x96\x6b\x96\x6b\x93\x8c";  // 北北東
constexpr char kNortheast[] = "\x96\x6b\x93\x8c";               // 北東
constexpr char kEastNortheast[] = "\x93\x8c\x96\x6b\x93\x8c";   // 東北東
constexpr char kEast[] = "\x93\x8c";                            // 東
constexpr char kEastSoutheast[] = "\x93\x8c\x93\xec\x93\x8c";   // 東南東
constexpr char kSoutheast[] = "\x93\xec\x93\x8c";               // 南東
constexpr char kSouthSoutheast[] = "\x93\xec\x93\xec\x93\x8c";  // 南南東
constexpr char kSouth[] = "\x93\xec";                           // 南
constexpr char kSouthSouthwest[] = "\x93\xec\x93\xec\x90\xbc";  // 南南西
constexpr char kSouthwest[] = "\x93\xec\x90\xbc";               // 南西
constexpr char kWestSouthwest[] = "\x90\xbc\x93\xec\x90\xbc";   // 西南西
constexpr char kWest[] = "\x90\xbc";                            // 西
constexpr char kWestNorthwest[] = "\x90\xbc\x96\x6b\x90\xbc";   // 西北西
constexpr char kNorthwest[] = "\x96\x6b\x90\xbc";               // 北西
constexpr char kNorthNorthwest[] = "\x96\x6b\x96\x6b\x90\xbc";  // 北北西

constexpr IconGroup kCatalogue[kIconGroupCount] = {
    {"0", "\x88\xda\x93\xae\x8b\xc7\x82\x60", nullptr},  // 移動局Ａ
    {"0.0", kNorth, "mark#13900"},
    {"0.1", kNorthNortheast, "mark#13901"},
    {"0.2", kNortheast, "mark#13902"},
    {"0.3", kEastNortheast, "mark#13903"},
    {"0.4", kEast, "mark#13904"},
    {"0.5", kEastSoutheast, "mark#13905"},
    {"0.6", kSoutheast, "mark#13906"},
    {"0.7", kSouthSoutheast, "mark#13907"},
    {"0.8", kSouth, "mark#13908"},
    {"0.9", kSouthSouthwest, "mark#13909"},
    {"0.10", kSouthwest, "mark#13910"},
    {"0.11", kWestSouthwest, "mark#13911"},
    {"0.12", kWest, "mark#13912"},
    {"0.13", kWestNorthwest, "mark#13913"},
    {"0.14", kNorthwest, "mark#13914"},
    {"0.15", kNorthNorthwest, "mark#13915"},
    {"1", "\x88\xda\x93\xae\x8b\xc7\x82\x61", nullptr},  // 移動局Ｂ
    {"1.0", kNorth, "mark#13920"},
    {"1.1", kNorthNortheast, "mark#13921"},
    {"1.2", kNortheast, "mark#13922"},
    {"1.3", kEastNortheast, "mark#13923"},
    {"1.4", kEast, "mark#13924"},
    {"1.5", kEastSoutheast, "mark#13925"},
    {"1.6", kSoutheast, "mark#13926"},
    {"1.7", kSouthSoutheast, "mark#13927"},
    {"1.8", kSouth, "mark#13928"},
    {"1.9", kSouthSouthwest, "mark#13929"},
    {"1.10", kSouthwest, "mark#13930"},
    {"1.11", kWestSouthwest, "mark#13931"},
    {"1.12", kWest, "mark#13932"},
    {"1.13", kWestNorthwest, "mark#13933"},
    {"1.14", kNorthwest, "mark#13934"},
    {"1.15", kNorthNorthwest, "mark#13935"},
    {"2", "\x88\xda\x93\xae\x8b\xc7\x82\x62", nullptr},  // 移動局Ｃ
    {"2.0", kNorth, "mark#13940"},
    {"2.1", kNorthNortheast, "mark#13941"},
    {"2.2", kNortheast, "mark#13942"},
    {"2.3", kEastNortheast, "mark#13943"},
    {"2.4", kEast, "mark#13944"},
    {"2.5", kEastSoutheast, "mark#13945"},
    {"2.6", kSoutheast, "mark#13946"},
    {"2.7", kSouthSoutheast, "mark#13947"},
    {"2.8", kSouth, "mark#13948"},
    {"2.9", kSouthSouthwest, "mark#13949"},
    {"2.10", kSouthwest, "mark#13950"},
    {"2.11", kWestSouthwest, "mark#13951"},
    {"2.12", kWest, "mark#13952"},
    {"2.13", kWestNorthwest, "mark#13953"},
    {"2.14", kNorthwest, "mark#13954"},
    {"2.15", kNorthNorthwest, "mark#13955"},
    {"3", "\x88\xda\x93\xae\x8b\xc7\x82\x63", nullptr},  // 移動局Ｄ
    {"3.0", kNorth, "mark#13960"},
    {"3.1", kNorthNortheast, "mark#13961"},
    {"3.2", kNortheast, "mark#13962"},
    {"3.3", kEastNortheast, "mark#13963"},
    {"3.4", kEast, "mark#13964"},
    {"3.5", kEastSoutheast, "mark#13965"},
    {"3.6", kSoutheast, "mark#13966"},
    {"3.7", kSouthSoutheast, "mark#13967"},
    {"3.8", kSouth, "mark#13968"},
    {"3.9", kSouthSouthwest, "mark#13969"},
    {"3.10", kSouthwest, "mark#13970"},
    {"3.11", kWestSouthwest, "mark#13971"},
    {"3.12", kWest, "mark#13972"},
    {"3.13", kWestNorthwest, "mark#13973"},
    {"3.14", kNorthwest, "mark#13974"},
    {"3.15", kNorthNorthwest, "mark#13975"},
    {"4", "\x88\xda\x93\xae\x8b\xc7\x82\x64", nullptr},  // 移動局Ｅ
    {"4.0", kNorth, "mark#13980"},
    {"4.1", kNorthNortheast, "mark#13981"},
    {"4.2", kNortheast, "mark#13982"},
    {"4.3", kEastNortheast, "mark#13983"},
    {"4.4", kEast, "mark#13984"},
    {"4.5", kEastSoutheast, "mark#13985"},
    {"4.6", kSoutheast, "mark#13986"},
    {"4.7", kSouthSoutheast, "mark#13987"},
    {"4.8", kSouth, "mark#13988"},
    {"4.9", kSouthSouthwest, "mark#13989"},
    {"4.10", kSouthwest, "mark#13990"},
    {"4.11", kWestSouthwest, "mark#13991"},
    {"4.12", kWest, "mark#13992"},
    {"4.13", kWestNorthwest, "mark#13993"},
    {"4.14", kNorthwest, "mark#13994"},
    {"4.15", kNorthNorthwest, "mark#13995"},
    {"5", "\x83\x8c\x83\x73\x81\x5b\x83\x5e\x81\x5b", "mark#92000"},   // レピーター
    {"6", "\x96\xaf\x89\xc6", "mark#14040"},                           // 民家
    {"7", "\x93\x58\x95\xdc", "mark#14050"},                           // 店舗
    {"8", "\x83\x78\x83\x8b", "mark#92010"},                           // ベル
    {"9", "\x83\x68\x83\x8a\x83\x93\x83\x4e", "mark#92020"},           // ドリンク
    {"10", "\x83\x53\x83\x8b\x83\x74\x8f\xea", "mark#15200"},          // ゴルフ場
    {"11", "\x83\x4a\x83\x82\x83\x81", "mark#91000"},                  // カモメ
    {"12", "\x8b\x9b", "mark#91010"},                                  // 魚
    {"13", "\x92\x93\x8e\xd4\x8f\xea", "mark#14520"},                  // 駐車場
    {"14", "\x83\x8c\x83\x58\x83\x67\x83\x89\x83\x93", "mark#14102"},  // レストラン
};

}  // namespace

const IconGroup* IconGroups() {
  return kCatalogue;
}

std::string GroupLine(const IconGroup& group) {
  std::string line = "group gid=\"";
  line += group.gid;
  line += "\" gname=\"";
  line += group.gname;
  line += '"';
  if (group.pointstyle != nullptr) {
    line += " pointstyle=\"";
    line += group.pointstyle;
    line += "\" iconsize=\"32\"";
  }
  line += ';';
  return line;
}

int HeadingClassOf(std::string_view course) {
  const float degrees = ReadFloatField(course);
  // Double precision, as the classes' boundaries were defined with: 348.75
  // must land in class 16 and 348.7 in class 15.
  const double product = (static_cast<double>(degrees) + 11.25) * 0.044444444444444446;
  if (std::isnan(product) || product >= 2147483648.0) return std::numeric_limits<int>::max();
  if (product <= -2147483649.0) return std::numeric_limits<int>::min();
  return static_cast<int>(product);
}

std::string GroupIdFor(std::string_view symbol, int headingClass) {
  std::string gid(symbol);
  if (symbol.size() == 1 && symbol[0] >= '0' && symbol[0] <= '4' && headingClass >= 0 &&
      headingClass <= 16) {
    // Class 16 is north again, the subgroup of class 0.
    gid += '.';
    gid += std::to_string(headingClass % 16);
  }
  return gid;
}

const IconGroup* FindIconGroup(std::string_view gid) {
  // The catalogue's order: groups 0 to 4, each followed by its sixteen
  // subgroups, then groups 5 to 14. The index comes from the digits; the
  // comparison rejects anything else.
  auto number = [](std::string_view digits) {
    if (digits.empty() || digits.size() > 2 || (digits.size() == 2 && digits[0] == '0')) return -1;
    int value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return -1;
      value = value * 10 + (c - '0');
    }
    return value;
  };
  const std::size_t point = gid.find('.');
  const int group = number(gid.substr(0, point));
  int index = -1;
  if (point == std::string_view::npos) {
    index = group >= 0 && group <= 4 ? group * 17 : group >= 5 && group <= 14 ? 80 + group : -1;
  } else {
    const int sector = number(gid.substr(point + 1));
    if (group >= 0 && group <= 4 && sector >= 0 && sector <= 15) index = group * 17 + 1 + sector;
  }
  if (index < 0 || gid != IconGroups()[index].gid) return nullptr;
  return &IconGroups()[index];
}

}  // namespace rigplot
