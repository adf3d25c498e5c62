#include "stations/map_script_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

#include "stations/icon_groups.h"

namespace rigplot {
namespace {

// The fixed texts of the file. Japanese is held as its code page 932 bytes,
// the readable text beside it. Lines end in CR LF on every platform.
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeaderLine = "mapserver script ver = \"1.0\";\r\n";
// theme str="D-STAR位置情報 (20%2.2d年%2.2d月%2.2d日 %2.2d時%2.2d分%2.2d秒更新)";
constexpr char kThemeFormat[] =
    "theme str=\"D-STAR"
    "\x88\xca\x92\x75\x8f\xee\x95\xf1"  // 位置情報
    " (20%2.2d"
    "\x94\x4e"  // 年
    "%2.2d"
    "\x8c\x8e"  // 月
    "%2.2d"
    "\x93\xfa"  // 日
    " %2.2d"
    "\x8e\x9e"  // 時
    "%2.2d"
    "\x95\xaa"  // 分
    "%2.2d"
    "\x95\x62\x8d\x58\x90\x56"  // 秒更新
    ")\";\r\n";
constexpr std::string_view kAddonStart = "addon url=\"file://";
// " title="D-STARリアルタイム位置情報" updatable="yes";
constexpr std::string_view kAddonEnd =
    "\" title=\"D-STAR"
    "\x83\x8a\x83\x41\x83\x8b\x83\x5e\x83\x43\x83\x80\x88\xca\x92\x75\x8f\xee\x95\xf1"
    "\" updatable=\"yes\";\r\n";

// The point line, cut where the station's values go.
constexpr std::string_view kPointStart = "point pos=\"";
constexpr std::string_view kPointOid = "\" oid=\"";
constexpr std::string_view kPointGid = "\" gid=\"";
constexpr std::string_view kPointStr = "\" str=\"";
// info="受信日時: and two blanks
constexpr std::string_view kPointReceived =
    "\" info=\""
    "\x8e\xf3\x90\x4d\x93\xfa\x8e\x9e"
    ":  ";
// JST\nデータ日時: and one blank
constexpr std::string_view kPointDataTime =
    "JST\\n"
    "\x83\x66\x81\x5b\x83\x5e\x93\xfa\x8e\x9e"
    ": ";
// UTC\n移動速度: and one blank
constexpr std::string_view kPointSpeed =
    "UTC\\n"
    "\x88\xda\x93\xae\x91\xac\x93\x78"
    ": ";
// \n移動方向: and two blanks
constexpr std::string_view kPointCourse =
    "\\n"
    "\x88\xda\x93\xae\x95\xfb\x8c\xfc"
    ":  ";
// \nレピータ: and three blanks
constexpr std::string_view kPointRepeater =
    "\\n"
    "\x83\x8c\x83\x73\x81\x5b\x83\x5e"
    ":   ";
// \nメッセージ: and two blanks
constexpr std::string_view kPointMessage =
    "\\n"
    "\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57"
    ":  ";
// \nグループ: 000";
constexpr std::string_view kPointEnd =
    "\\n"
    "\x83\x4f\x83\x8b\x81\x5b\x83\x76"
    ": 000\";\r\n";

constexpr std::string_view kMessageStart = "message str=\" ";
// 局受信しました。";
constexpr std::string_view kMessageEnd =
    " "
    "\x8b\xc7\x8e\xf3\x90\x4d\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42"
    "\";\r\n";
constexpr std::string_view kTrailer =
    "disp area=\"current\" scale=\"5000000\";\r\n"
    "mapserver end;\r\n";

// The 95 group lines never change: made once.
const std::string& CatalogueLines() {
  static const std::string lines = [] {
    std::string text;
    for (int i = 0; i < kIconGroupCount; ++i) {
      text += GroupLine(IconGroups()[i]);
      text += kLineEnd;
    }
    return text;
  }();
  return lines;
}

bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Radio texts are untrusted and the viewer runs the script: nothing taken
// from the air may end a quoted value or break the line. A quote becomes an
// apostrophe, a control byte a blank, a closing backslash a slash, and a lead
// byte with nothing to pair with is dropped (it would swallow the quote that
// follows). Double-byte characters are walked as pairs, so a trail byte 0x5C
// is not taken for a backslash.
void AppendText(std::string& out, std::string_view text) {
  bool plain = text.empty() || text.back() != '\\';
  for (std::size_t i = 0; plain && i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    plain = b >= 0x20 && b < 0x7F && b != '"';
  }
  if (plain) {
    out += text;
    return;
  }
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (IsLeadByte(b)) {
      if (i + 1 < n && IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
        out += text[i];
        out += text[++i];
      } else if (i + 1 < n) {
        out += text[i];
      }
    } else if (b == '"') {
      out += '\'';
    } else if (b < 0x20 || b == 0x7F) {
      out += ' ';
    } else if (b == '\\' && i + 1 == n) {
      out += '/';
    } else {
      out += text[i];
    }
  }
}

// One character of a date or time field, by its position from 0; "-" stands
// for a character the field does not have.
void AppendFieldChar(std::string& out, const std::string& field, std::size_t index) {
  if (index < field.size()) {
    AppendText(out, std::string_view(field).substr(index, 1));
  } else {
    out += '-';
  }
}

void AppendInt(std::string& out, int value) {
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// The speed in km/h as "%6.2f" prints it. Knots times 1.852 stays in single
// precision on purpose: a double product would end some speeds on another
// digit (4097.8 knots: 7589.12 here, 7589.13 in double).
void AppendSpeed(std::string& out, std::string_view speedKnots) {
  const float kmh = ReadFloatField(speedKnots) * 1.852f;
  char digits[64];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, static_cast<double>(kmh),
                                       std::chars_format::fixed, 2);
  const std::size_t length = ec == std::errc() ? static_cast<std::size_t>(end - digits) : 0;
  if (length < 6) out.append(6 - length, ' ');
  out.append(digits, length);
}

void AppendPointLine(std::string& out, int oid, const StationRecord& station) {
  out += kPointStart;
  AppendText(out, station.latitude);
  out += ',';
  AppendText(out, station.longitude);
  out += kPointOid;
  AppendInt(out, oid);
  out += kPointGid;
  AppendText(out, GroupIdFor(station.symbol, HeadingClassOf(station.course)));
  out += kPointStr;
  AppendText(out, station.callsign);
  out += kPointReceived;
  const void* zero = std::memchr(station.receivedAt, '\0', sizeof station.receivedAt);
  AppendText(out,
             std::string_view(station.receivedAt,
                              zero != nullptr ? static_cast<const char*>(zero) - station.receivedAt
                                              : sizeof station.receivedAt));
  out += kPointDataTime;
  // yy/mm/dd hh:mm:ss from ddmmyy and hhmmss.
  AppendFieldChar(out, station.utcDate, 4);
  AppendFieldChar(out, station.utcDate, 5);
  out += '/';
  AppendFieldChar(out, station.utcDate, 2);
  AppendFieldChar(out, station.utcDate, 3);
  out += '/';
  AppendFieldChar(out, station.utcDate, 0);
  AppendFieldChar(out, station.utcDate, 1);
  out += ' ';
  AppendFieldChar(out, station.utcTime, 0);
  AppendFieldChar(out, station.utcTime, 1);
  out += ':';
  AppendFieldChar(out, station.utcTime, 2);
  AppendFieldChar(out, station.utcTime, 3);
  out += ':';
  AppendFieldChar(out, station.utcTime, 4);
  AppendFieldChar(out, station.utcTime, 5);
  out += kPointSpeed;
  AppendSpeed(out, station.speedKnots);
  out += kPointCourse;
  AppendText(out, station.course);
  out += kPointRepeater;
  AppendText(out, station.repeater);
  out += kPointMessage;
  AppendText(out, station.message);
  out += kPointEnd;
}

}  // namespace

void MapScriptWriter::Render(std::string& out, const std::string& path, const StationTable& table,
                             const std::tm& now) {
  out.clear();
  out += kHeaderLine;
  char theme[256];
  const int themeLength =
      std::snprintf(theme, sizeof theme, kThemeFormat, now.tm_year - 100, now.tm_mon + 1,
                    now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
  if (themeLength > 0) out.append(theme, std::min<std::size_t>(themeLength, sizeof theme - 1));
  out += kAddonStart;
  out += path;
  out += kAddonEnd;
  out += CatalogueLines();
  const int count = table.count();
  for (int i = 0; i < count; ++i) AppendPointLine(out, i + 1, table.slot(i));
  out += kMessageStart;
  AppendInt(out, count);
  out += kMessageEnd;
  out += kTrailer;
}

bool MapScriptWriter::Write(const std::string& path, const StationTable& table) {
  Render(m_buffer, path, table, LocalTimeNow());
  return ReplaceFile(path);
}

void MapScriptWriter::CloseIfOpen() {
  if (m_mapScriptFile == nullptr) return;
  std::fclose(m_mapScriptFile);
  m_mapScriptFile = nullptr;
  std::remove(m_tempPath.c_str());
}

}  // namespace rigplot
