#include "stations/map_script_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>

#include "report/local_time.h"
#include "stations/cp932.h"
#include "stations/icon_groups.h"
#include "stations/info_text.h"

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
constexpr std::string_view kPointInfo = "\" info=\"";
constexpr std::string_view kPointEnd = "\";\r\n";

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
    if (IsCp932LeadByte(b)) {
      if (i + 1 < n && IsCp932TrailByte(static_cast<unsigned char>(text[i + 1]))) {
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

void AppendInt(std::string& out, int value) {
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
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
  out += kPointInfo;
  AppendInfoText(out, station, kInfoTextLabels, AppendText);
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
  // A clock that does not convert leaves the theme line's fields at zero.
  std::tm now{};
  (void)ToLocalTime(std::time(nullptr), now);
  Render(m_buffer, path, table, now);
  return m_file.Replace(path, m_buffer);
}

}  // namespace rigplot
