// SPDX-License-Identifier: MIT
// The open formats: radio texts read as code page 932 into UTF-8 and escaped
// for JSON, XML and CSV, one station in each format, and the report log's
// day files. Python's readers check whole files of captured sessions and
// hostile reports (tests/formats/check_formats.py).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>

#include "stations/geojson.h"
#include "stations/kml.h"
#include "stations/radio_text.h"
#include "stations/report_log.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"
#include "tests/support/map_script.h"
#include "tests/support/stations.h"

namespace rigplot {
namespace {

namespace fs = std::filesystem;

std::string Utf8(std::string_view cp932) {
  std::string out;
  AppendUtf8(out, cp932);
  return out;
}

TEST(RadioText, ReadsCodePage932IntoUtf8) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"JA1ABC \x01\x7f", "JA1ABC \x01\x7f"},            // ASCII, control bytes kept
      {"\xb1\xdf", "\xef\xbd\xb1\xef\xbe\x9f"},          // half-width kana
      {"\x88\xca\x92\x75", "\xe4\xbd\x8d\xe7\xbd\xae"},  // 位置
      {"\x81\x5f\x5c", "\xef\xbc\xbc\\"},                // trail 0x5C is no backslash
      {"\x87\x40", "\xe2\x91\xa0"},                      // NEC: circled one
      {"\xfa\x40", "\xe2\x85\xb0"},                      // IBM: small roman one
      {"\xed\x40", "\xe7\xba\x8a"},                      // NEC-selected IBM
      {"\xf0\x40", "\xee\x80\x80"},                      // user-defined: private use
      {"AB\x88", "AB\xef\xbf\xbd"},                      // lead byte cut off at the end
      {"\x88\"x", "\xef\xbf\xbd\"x"},                    // lead before a non-trail byte
      {"\x85\x40", "\xef\xbf\xbd@"},                     // unassigned pair, ASCII trail read again
      {"\x85\x80", "\xef\xbf\xbd"},                      // unassigned pair
      {"\x80\xa0\xfd\xfe\xff", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
  };
  for (const auto& row : rows) EXPECT_EQ(Utf8(row.in), row.out) << row.in;
}

// Every byte, and every lead byte before every byte, read into one digest:
// the same on every OS, so the files carry the same bytes on Windows.
TEST(RadioText, EveryCharacterReadsAlikeOnEveryOs) {
  std::uint64_t digest = 14695981039346656037u;
  int replaced = 0;
  auto take = [&](std::string_view cp932) {
    const std::string text = Utf8(cp932);
    if (text.find("\xef\xbf\xbd") != std::string::npos) ++replaced;
    for (char c : text + '|') digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211u;
  };
  for (int first = 0; first < 256; ++first) {
    take(std::string(1, static_cast<char>(first)));
    if ((first >= 0x81 && first <= 0x9F) || (first >= 0xE0 && first <= 0xFC)) {
      for (int second = 0; second < 256; ++second) {
        take(std::string{static_cast<char>(first), static_cast<char>(second)});
      }
    }
  }
  // As glibc's converter reads them on Linux.
  EXPECT_EQ(replaced, 5821);
  EXPECT_EQ(digest, 0x31741c9a3913d8b2u) << std::hex << digest;
}

TEST(RadioText, EscapesEveryByteForJsonXmlAndCsv) {
  const std::string hostile = "a\"b\\c<d>&e'f\tg\nh\ri\x01j\x7fk,\x88";
  std::string json, xml, csv;
  AppendJsonString(json, Utf8(hostile));
  AppendXmlText(xml, Utf8(hostile));
  AppendCsvField(csv, Utf8(hostile));
  EXPECT_EQ(json,
            "\"a\\\"b\\\\c\\u003cd\\u003e\\u0026e'f\\tg\\nh\\ri\\u0001j\\u007fk,\xef\xbf\xbd\"");
  EXPECT_EQ(xml, "a&quot;b\\c&lt;d&gt;&amp;e&#39;f&#9;g&#10;h&#13;i j\x7fk,\xef\xbf\xbd");
  EXPECT_EQ(csv, "\"a\"\"b\\c<d>&e'f g h i j k,\xef\xbf\xbd\"");
}

// The log is opened in spreadsheets and followed in terminals: nothing from
// the air may run there as a formula or an escape sequence.
TEST(RadioText, CsvFieldsRunNeitherFormulasNorEscapes) {
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"JA1ABC B", "JA1ABC B"},                       // plain text as it is
      {"a-b=c", "a-b=c"},                             // only the first byte counts
      {"=1+2", "'=1+2"},                              // formula
      {"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"},  // command through DDE
      {"+1", "'+1"},                                  // formula by sign
      {"-1", "'-1"},                                  //
      {"@SUM(A1)", "'@SUM(A1)"},                      // formula by function
      {"\tx", "' x"},                                 // tab first
      {"\rx", "' x"},                                 // CR first
      {"=a,b", "\"'=a,b\""},                          // quoted and kept text
      {"'=1", "''=1"},                                // an apostrophe of its own is kept
      {"\x1b[31mred\x1b[0m\x7f", " [31mred [0m "},    // terminal escapes, DEL
  };
  for (const auto& row : rows) {
    std::string csv;
    AppendCsvField(csv, row.in);
    EXPECT_EQ(csv, row.out) << row.in;
  }
}

class OpenFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) m_savedTz = tz;
    setenv("TZ", "JST-9", 1);
    tzset();
    for (std::random_device random; m_dir.empty();) {
      const fs::path dir =
          fs::temp_directory_path() / ("rigplot-formats-" + std::to_string(random()));
      if (fs::create_directory(dir)) m_dir = dir;
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_dir, ignored);
    if (m_savedTz.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", m_savedTz.c_str(), 1);
    }
    tzset();
  }

  static PendingReport At(const char* callsign, std::time_t t) {
    PendingReport report = test::Station(callsign, "0", "123.4", "10");
    report.receivedTime = t;
    return report;
  }
  std::string Path(const char* name) const { return (m_dir / name).string(); }
  std::string Read(const char* name) const {
    std::ifstream in(m_dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path m_dir;
  std::string m_savedTz;
};

constexpr std::time_t kBeforeMidnight = 1796741999;  // 2026-12-08 23:59:59 +09:00

TEST_F(OpenFormats, OneStationInEachFormat) {
  StationTable table;
  PendingReport report = At("JA1ABC", kBeforeMidnight);
  report.latitude = "-35/39.1234";
  report.message = "say \"hi\" <&>";
  test::Store(table, report);
  std::scoped_lock lock(table.mutex());
  std::string out;
  RenderGeoJson(out, table);
  EXPECT_EQ(out,
            "{\"type\":\"FeatureCollection\",\"features\":[\n"
            "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[139.761315,"
            "-35.652057]},\"properties\":{\"callsign\":\"JA1ABC\",\"repeater\":\"JR1WN A\","
            "\"symbol\":\"0\",\"gid\":\"0.5\","
            "\"group\":\"\xe6\x9d\xb1\xe5\x8d\x97\xe6\x9d\xb1\",\"heading_class\":5,\"course\":123."
            "4,\"speed_kmh\":18.52,\"utc_date\":\"051225\","
            "\"utc_time\":\"093015\",\"received_at\":\"2026-12-08T23:59:59+09:00\","
            "\"message\":\"say \\\"hi\\\" \\u003c\\u0026\\u003e\"}}\n]}\n");
  RenderKml(out, table);
  EXPECT_NE(out.find("<Style id=\"g0.5\"><IconStyle><color>ff0000ff</color><heading>112.5"
                     "</heading>"),
            std::string::npos);
  EXPECT_NE(
      out.find("<Placemark><name>JA1ABC</name><description><![CDATA["
               "\xe5\x8f\x97\xe4\xbf\xa1\xe6\x97\xa5\xe6\x99\x82:  25/12/05 18:30:15JST<br/>"),
      std::string::npos);
  EXPECT_NE(out.find("say &quot;hi&quot; &lt;&amp;&gt;<br/>"), std::string::npos);
  EXPECT_NE(out.find("<styleUrl>#g0.5</styleUrl><Point><coordinates>139.761315,-35.652057"
                     "</coordinates></Point></Placemark>\n</Document>\n</kml>\n"),
            std::string::npos);
  out.clear();
  AppendReportLogLine(out, table.view(0));
  EXPECT_EQ(out,
            "2026-12-08T23:59:59+09:00,JA1ABC,JR1WN A,0,-35.652057,139.761315,18.52,123.4,051225,"
            "093015,\"say \"\"hi\"\" <&>\"\r\n");
}

// Midnight starts a new file; a program started again appends to it, ends a
// line a failed write cut off, and writes no second header.
TEST_F(OpenFormats, LogAppendsByLocalDayAcrossARestart) {
  StationTable table;
  std::scoped_lock lock(table.mutex());
  std::string error;
  {
    ReportLog log(Path("logs/a"));
    for (std::time_t t : {kBeforeMidnight, kBeforeMidnight + 1}) {
      const int slot = table.StoreReport(At("JA1ABC", t));
      ASSERT_TRUE(log.Publish(table, slot, error)) << error;
    }
  }
  const std::string header(ReportLogHeader());
  const std::string day1 = Read("logs/a/rigplot-2026-12-08.csv");
  EXPECT_EQ(day1.rfind(header, 0), 0u);
  EXPECT_NE(day1.find("\r\n2026-12-08T23:59:59+09:00,JA1ABC,"), std::string::npos);
  // A quoted field cut by a failed write would take the lines after it in.
  const std::string day2 = Read("logs/a/rigplot-2026-12-09.csv");
  EXPECT_EQ(day2.rfind(header, 0), 0u);
  std::ofstream(m_dir / "logs/a/rigplot-2026-12-09.csv", std::ios::binary | std::ios::app)
      << "2026-12-09T00:00:00+09:00,cut,\"in a quoted fie";
  ReportLog restarted(Path("logs/a"));
  const int slot = table.StoreReport(At("JH2XYZ", kBeforeMidnight + 2));
  ASSERT_TRUE(restarted.Publish(table, slot, error)) << error;
  std::string line;
  AppendReportLogLine(line, table.view(slot));
  EXPECT_EQ(Read("logs/a/rigplot-2026-12-09.csv"), day2 + line);
  EXPECT_EQ(Read("logs/a/rigplot-2026-12-08.csv"), day1);
}

// Failures come back with the OS's text; the next report tries again.
TEST_F(OpenFormats, FailuresSayWhy) {
  StationTable table;
  std::scoped_lock lock(table.mutex());
  const int slot = table.StoreReport(At("JA1ABC", kBeforeMidnight));
  std::ofstream(m_dir / "file") << "in the way";
  fs::create_directory(m_dir / "dir.kml");
  GeoJsonFileOutput geojson(Path("missing") + "/x.geojson");
  KmlFileOutput kml(Path("dir.kml"));
  ReportLog log(Path("file") + "/logs");
  for (StationOutput* output : std::initializer_list<StationOutput*>{&geojson, &kml, &log}) {
    std::string error;
    EXPECT_FALSE(output->Publish(table, slot, error)) << output->name();
    EXPECT_FALSE(error.empty()) << output->name();
  }
  fs::remove(m_dir / "file");
  std::string error;
  EXPECT_TRUE(log.Publish(table, slot, error)) << error;
  EXPECT_EQ(fs::directory_iterator(m_dir / "dir.kml") == fs::directory_iterator(), true);
}

}  // namespace
}  // namespace rigplot
