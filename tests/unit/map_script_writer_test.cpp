#include "stations/map_script_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "stations/icon_groups.h"
#include "stations/station_table.h"
#include "tests/support/cp932.h"
#include "tests/support/map_script.h"
#include "tests/support/stations.h"

namespace rigplot {
namespace {

using test::Lines;
using test::Station;
using test::Store;
using test::ToCp932;

// The group lines, proven against the readable catalogue in their own test.
std::string CatalogueBytes() {
  std::string lines;
  for (int i = 0; i < kIconGroupCount; ++i) lines += GroupLine(IconGroups()[i]) + "\r\n";
  return lines;
}

// A whole expected file: readable text around the group lines.
std::string ExpectedFile(const std::string& head, const std::string& tail) {
  return ToCp932(head) + CatalogueBytes() + ToCp932(tail);
}

std::tm Time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string Rendered(const StationTable& table, const std::string& path = "/tmp/0.mps",
                     const std::tm& now = Time(2025, 12, 5, 18, 30, 16)) {
  std::string out = "left over from before";
  std::scoped_lock lock(table.mutex());
  MapScriptWriter::Render(out, path, table, now);
  return out;
}

const char kHeader[] =
    "mapserver script ver = \"1.0\";\r\n"
    "theme str=\"D-STAR位置情報 (2025年12月05日 18時30分16秒更新)\";\r\n"
    "addon url=\"file:///tmp/0.mps\" title=\"D-STARリアルタイム位置情報\" updatable=\"yes\";\r\n";

TEST(MapScriptRender, EmptyTable) {
  StationTable table;
  const std::string expected = ExpectedFile(kHeader,
                                            "message str=\" 0 局受信しました。\";\r\n"
                                            "disp area=\"current\" scale=\"5000000\";\r\n"
                                            "mapserver end;\r\n");
  const std::string file = Rendered(table);
  EXPECT_EQ(file, expected);
  EXPECT_EQ(Lines(file).size(), 101u);
}

TEST(MapScriptRender, OneStation) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string expected =
      ExpectedFile(kHeader,
                   "point pos=\"35/39.1234,139/45.6789\" oid=\"1\" gid=\"0.4\" str=\"JA1ABC\" "
                   "info=\"受信日時:  25/12/05 18:30:15JST\\nデータ日時: 25/12/05 09:30:15UTC\\n"
                   "移動速度:  18.52\\n移動方向:  90\\nレピータ:   JR1WN A\\nメッセージ:  Hello\\n"
                   "グループ: 000\";\r\n"
                   "message str=\" 1 局受信しました。\";\r\n"
                   "disp area=\"current\" scale=\"5000000\";\r\n"
                   "mapserver end;\r\n");
  EXPECT_EQ(Rendered(table), expected);
}

TEST(MapScriptRender, ThreeStationsInOrderOfFirstHearing) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  PendingReport second = Station("JH2XYZ-7", "9", "400", "100");
  second.latitude = "-33/51.5000";
  second.longitude = "-151/12.2500";
  second.utcDate = "311299";
  second.utcTime = "235959";
  second.repeater = "";
  second.message = "";
  Store(table, second);
  Store(table, Station("JR3QQQ", "4", "", ""));
  Store(table, Station("JA1ABC", "2", "348.7", "12.5"));  // updates slot 0
  const std::string expected = ExpectedFile(
      "mapserver script ver = \"1.0\";\r\n"
      "theme str=\"D-STAR位置情報 (2000年01月01日 00時00分00秒更新)\";\r\n"
      "addon url=\"file:///var/tmp/rig plot/0.mps\" title=\"D-STARリアルタイム位置情報\" "
      "updatable=\"yes\";\r\n",
      "point pos=\"35/39.1234,139/45.6789\" oid=\"1\" gid=\"2.15\" str=\"JA1ABC\" "
      "info=\"受信日時:  25/12/05 18:30:15JST\\nデータ日時: 25/12/05 09:30:15UTC\\n"
      "移動速度:  23.15\\n移動方向:  348.7\\nレピータ:   JR1WN A\\nメッセージ:  Hello\\n"
      "グループ: 000\";\r\n"
      "point pos=\"-33/51.5000,-151/12.2500\" oid=\"2\" gid=\"9\" str=\"JH2XYZ-7\" "
      "info=\"受信日時:  25/12/05 18:30:15JST\\nデータ日時: 99/12/31 23:59:59UTC\\n"
      "移動速度: 185.20\\n移動方向:  400\\nレピータ:   \\nメッセージ:  \\n"
      "グループ: 000\";\r\n"
      "point pos=\"35/39.1234,139/45.6789\" oid=\"3\" gid=\"4.0\" str=\"JR3QQQ\" "
      "info=\"受信日時:  25/12/05 18:30:15JST\\nデータ日時: 25/12/05 09:30:15UTC\\n"
      "移動速度:   0.00\\n移動方向:  \\nレピータ:   JR1WN A\\nメッセージ:  Hello\\n"
      "グループ: 000\";\r\n"
      "message str=\" 3 局受信しました。\";\r\n"
      "disp area=\"current\" scale=\"5000000\";\r\n"
      "mapserver end;\r\n");
  const std::string file = Rendered(table, "/var/tmp/rig plot/0.mps", Time(2000, 1, 1, 0, 0, 0));
  EXPECT_EQ(file, expected);
  EXPECT_EQ(Lines(file).size(), 104u);
}

TEST(MapScriptRender, ThemeLineFromLocalTime) {
  const struct {
    std::tm now;
    const char* line;
  } rows[] = {
      {Time(2025, 12, 5, 9, 3, 7),
       "theme str=\"D-STAR位置情報 (2025年12月05日 09時03分07秒更新)\";"},
      {Time(2099, 1, 31, 23, 59, 60),
       "theme str=\"D-STAR位置情報 (2099年01月31日 23時59分60秒更新)\";"},
      {Time(2100, 2, 1, 0, 0, 0),
       "theme str=\"D-STAR位置情報 (20100年02月01日 00時00分00秒更新)\";"},
  };
  StationTable table;
  for (const auto& row : rows)
    EXPECT_EQ(Lines(Rendered(table, "p", row.now))[1], ToCp932(row.line));
}

// The info text of the only point line, decoded field by field.
std::string PointLine(const PendingReport& report) {
  StationTable table;
  Store(table, report);
  return Lines(Rendered(table))[98];
}

std::string SpeedField(const char* knots) {
  const std::string line = PointLine(Station("JA1ABC", "0", "90", knots));
  const std::string label = ToCp932("移動速度: ");
  const std::size_t at = line.find(label);
  if (at == std::string::npos) return "(no speed)";
  const std::size_t end = line.find("\\n", at);
  return line.substr(at + label.size(), end - at - label.size());
}

TEST(MapScriptRender, SpeedInKilometresPerHour) {
  const struct {
    const char* knots;
    const char* field;
  } rows[] = {
      {"0", "  0.00"},   {"10", " 18.52"},    {"12.5", " 23.15"},  {"100", "185.20"},
      {"", "  0.00"},    {".", "  0.00"},     {"000.0", "  0.00"}, {"1000", "1852.00"},
      {"5.4", " 10.00"}, {"0.002", "  0.00"}, {"1e40", "   inf"},
  };
  for (const auto& row : rows) EXPECT_EQ(SpeedField(row.knots), row.field) << row.knots;
}

// Every speed the radio can send with one decimal, against printf itself.
TEST(MapScriptRender, SpeedMatchesPrintfOfTheSinglePrecisionProduct) {
  StationTable table;
  std::vector<std::string> texts;
  for (int tenths = 0; tenths < 100000; tenths += 7) {
    texts.push_back(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10));
  }
  const std::string label = ToCp932("移動速度: ");
  for (std::size_t first = 0; first < texts.size(); first += StationTable::kSlots) {
    test::Clear(table);
    const std::size_t last = std::min(texts.size(), first + StationTable::kSlots);
    for (std::size_t i = first; i < last; ++i) {
      Store(table, Station(("S" + std::to_string(i)).c_str(), "0", "0", texts[i].c_str()));
    }
    const std::vector<std::string> lines = Lines(Rendered(table));
    for (std::size_t i = first; i < last; ++i) {
      const float kmh = std::strtof(texts[i].c_str(), nullptr) * 1.852f;
      char expected[32];
      std::snprintf(expected, sizeof expected, "%6.2f", kmh);
      const std::string& line = lines[98 + i - first];
      const std::size_t at = line.find(label) + label.size();
      ASSERT_EQ(line.substr(at, line.find("\\n", at) - at), expected) << texts[i];
    }
  }
}

TEST(MapScriptRender, DateAndTimeCharacters) {
  const struct {
    const char* utcDate;
    const char* utcTime;
    const char* shown;
  } rows[] = {
      {"251205", "093015", "05/12/25 09:30:15"},
      {"2512051", "0930159", "05/12/25 09:30:15"},  // only the first six count
      {"2512", "0930", "--/12/25 09:30:--"},
      {"", "", "--/--/-- --:--:--"},
      {"2", "09301", "--/--/2- 09:30:1-"},
  };
  for (const auto& row : rows) {
    PendingReport report = Station("JA1ABC", "0", "90", "10");
    report.utcDate = row.utcDate;
    report.utcTime = row.utcTime;
    const std::string line = PointLine(report);
    EXPECT_NE(line.find(ToCp932("データ日時: ") + row.shown + "UTC\\n"), std::string::npos)
        << row.utcDate << " " << row.utcTime << ": " << line;
  }
}

// A radio text must not be able to end a quoted value, break a line or
// escape the quote that closes its value; ordinary texts pass unchanged.
TEST(MapScriptRender, RadioTextsCannotBreakTheScript) {
  const struct {
    std::string text;
    std::string written;
  } rows[] = {
      {"Hello 73!", "Hello 73!"},
      {"a\"b\"", "a'b'"},
      {"a\r\nb", "a  b"},
      {"a\tb\x7f", "a b "},
      {std::string("a\0b", 3), "a b"},
      {"ab\\", "ab/"},
      {"a\\b", "a\\b"},
      {"\\\\", "\\/"},
      {"ab\x81", "ab"},
      {"ab\xe0", "ab"},
      {"ab\xfc", "ab"},
      {"\x83\x5c", "\x83\x5c"},      // ソ: its trail byte is 0x5C
      {"\x83\x5c\\", "\x83\x5c/"},   // ソ and a backslash
      {"\x83\x5c\x83", "\x83\x5c"},  // ソ and half a character
      {"\x81\x81\x81", "\x81\x81"},  // a pair, then a lone lead byte
      {"\x81\x81\\", "\x81\x81/"},
      {"\x81\"x", "\x81'x"},  // a quote is never a trail byte
      {"\x81\x1f", "\x81 "},
      {"\xb1\xdf", "\xb1\xdf"},  // half-width kana are single bytes
      {"\xa0\\", "\xa0/"},
      {"\xdf\x81", "\xdf"},
      {"\x88\xda\x93\xae", "\x88\xda\x93\xae"},  // 移動
  };
  using Field = void (*)(PendingReport&, const std::string&);
  const struct {
    const char* name;
    Field set;
  } fields[] = {
      {"latitude", [](PendingReport& r, const std::string& t) { r.latitude = t; }},
      {"longitude", [](PendingReport& r, const std::string& t) { r.longitude = t; }},
      {"symbol", [](PendingReport& r, const std::string& t) { r.symbol = t; }},
      {"callsign", [](PendingReport& r, const std::string& t) { r.callsign = t; }},
      {"receivedAt",
       [](PendingReport& r, const std::string& t) {
         std::memset(r.receivedAt, 0, sizeof r.receivedAt);
         std::memcpy(r.receivedAt, t.data(), std::min(t.size(), sizeof r.receivedAt - 1));
       }},
      {"course", [](PendingReport& r, const std::string& t) { r.course = t; }},
      {"repeater", [](PendingReport& r, const std::string& t) { r.repeater = t; }},
      {"message", [](PendingReport& r, const std::string& t) { r.message = t; }},
  };
  for (const auto& field : fields) {
    for (const auto& row : rows) {
      if (field.name == std::string("receivedAt") && row.text.find('\0') != std::string::npos) {
        continue;  // a zero byte ends that buffer by definition
      }
      PendingReport report = Station("JA1ABC", "5", "90", "10");
      field.set(report, row.text);
      PendingReport shown = Station("JA1ABC", "5", "90", "10");
      field.set(shown, "@@");
      std::string expected = PointLine(shown);
      expected.replace(expected.find("@@"), 2, row.written);
      EXPECT_EQ(PointLine(report), expected) << field.name << " \"" << row.text << '"';
    }
  }
}

TEST(MapScriptRender, UntrustedDateAndTimeCharacters) {
  PendingReport report = Station("JA1ABC", "0", "90", "10");
  report.utcDate =
      "\"\\\x81\x01"
      "ab";
  report.utcTime =
      "\x7f\"\\\\\xfc"
      "9";
  EXPECT_NE(PointLine(report).find(ToCp932("データ日時: ") + "ab/ /'/ " + " ':/" + "/:9UTC\\n"),
            std::string::npos);
}

}  // namespace
}  // namespace rigplot
