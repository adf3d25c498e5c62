#include "stations/icon_groups.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stations/report_fields.h"
#include "tests/support/cp932.h"

namespace rigplot {
namespace {

const char* const kCompass[16] = {"北",   "北北東", "北東", "東北東", "東",   "東南東",
                                  "南東", "南南東", "南",   "南南西", "南西", "西南西",
                                  "西",   "西北西", "北西", "北北西"};

// The catalogue in UTF-8, made from the rule rather than copied from the code.
std::vector<std::string> ExpectedCatalogue() {
  const char* const letters[5] = {"Ａ", "Ｂ", "Ｃ", "Ｄ", "Ｅ"};
  std::vector<std::string> lines;
  for (int g = 0; g < 5; ++g) {
    lines.push_back("group gid=\"" + std::to_string(g) + "\" gname=\"移動局" + letters[g] + "\";");
    for (int d = 0; d < 16; ++d) {
      lines.push_back("group gid=\"" + std::to_string(g) + "." + std::to_string(d) + "\" gname=\"" +
                      kCompass[d] + "\" pointstyle=\"mark#" + std::to_string(13900 + 20 * g + d) +
                      "\" iconsize=\"32\";");
    }
  }
  const struct {
    const char* name;
    int mark;
  } fixed[10] = {{"レピーター", 92000}, {"民家", 14040},      {"店舗", 14050},   {"ベル", 92010},
                 {"ドリンク", 92020},   {"ゴルフ場", 15200},  {"カモメ", 91000}, {"魚", 91010},
                 {"駐車場", 14520},     {"レストラン", 14102}};
  for (int i = 0; i < 10; ++i) {
    lines.push_back("group gid=\"" + std::to_string(5 + i) + "\" gname=\"" + fixed[i].name +
                    "\" pointstyle=\"mark#" + std::to_string(fixed[i].mark) +
                    "\" iconsize=\"32\";");
  }
  return lines;
}

std::string DecodedLine(int index) {
  return test::FromCp932(GroupLine(IconGroups()[index]));
}

TEST(IconGroupCatalogue, EveryLineMatchesTheRule) {
  const std::vector<std::string> expected = ExpectedCatalogue();
  ASSERT_EQ(expected.size(), static_cast<std::size_t>(kIconGroupCount));
  ASSERT_EQ(kIconGroupCount, 95);
  for (int i = 0; i < kIconGroupCount; ++i) EXPECT_EQ(DecodedLine(i), expected[i]) << "line " << i;
}

// Reading a number must agree with strtof, bit for bit, in the C locale; a
// text with no number reads as +0 (MinGW's strtof gives -0 for "--1").
TEST(ReadFloatField, AgreesWithStrtof) {
  const char* const texts[] = {
      "0", "12.5", "123.4", "348.7", "0.1", "16777217", ".5", "5.", " 7", "\t8", "+3", "-2.5",
      "12.5abc", "1e3", "1e40", "-1e40", "1e-50", "1e-40", "inf", "-inf", "000.0", "0.00001",
      // At the edge of float's range and beyond it.
      "3.4028235e38", "99999999999999999999999999999999999999999",
      "340282356779733661637539395458142568448", "0.000000000000000000000000000000000000000000001"};
  for (const char* text : texts) {
    const float expected = std::strtof(text, nullptr);
    const float read = ReadFloatField(text);
    EXPECT_EQ(std::memcmp(&read, &expected, sizeof read), 0)
        << text << ": " << read << " instead of " << expected;
  }
  const float zero = 0.0f;
  for (const char* text : {"", ".", "abc", "--1", "+-1", "-", " ", "e5", ".e1"}) {
    const float read = ReadFloatField(text);
    EXPECT_EQ(std::memcmp(&read, &zero, sizeof read), 0) << text << ": " << read;
  }
}

TEST(ReadFloatField, ReadsOnlyTheViewsBytes) {
  EXPECT_EQ(ReadFloatField(std::string_view("12345", 2)), 12.0f);
}

TEST(HeadingClassOf, Sectors) {
  const struct {
    const char* course;
    int headingClass;
  } rows[] = {
      {"0", 0},
      {"11.24", 0},
      {"11.25", 1},
      {"33.75", 2},
      {"90", 4},
      {"123.4", 5},
      {"180", 8},
      {"348.7", 15},
      {"348.75", 16},
      {"355", 16},
      {"371.24", 16},
      {"371.25", 17},
      {"400", 18},
      {"", 0},
      {".", 0},
      {"000.0", 0},
      {"359.9", 16},
      {"3600", 160},
      // Just under and just over what an int holds: no overflow either side.
      {"48318377984", 2147483466},
      {"48318382080", INT_MAX},
      {"99999999999999999999999999999999999999999", INT_MAX},  // beyond float: infinity
      {"340282346638528859811704183484516925440", INT_MAX},    // the largest float
      {"1e40", INT_MAX},
      {"inf", INT_MAX},
      {"nan", INT_MAX},
      {"-20", 0},
      {"-100", -3},
      {"-1e40", INT_MIN},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(HeadingClassOf(row.course), row.headingClass) << '"' << row.course << '"';
  }
}

TEST(GroupIdFor, SymbolAndCourse) {
  const struct {
    const char* symbol;
    const char* course;
    const char* gid;
  } rows[] = {
      {"2", "90", "2.4"},
      {"0", "0", "0.0"},
      {"0", "11.25", "0.1"},
      {"4", "355", "4.0"},
      {"1", "348.75", "1.0"},
      {"1", "348.7", "1.15"},
      {"3", "400", "3"},
      {"3", "371.25", "3"},
      {"9", "180", "9"},
      {"12", "90", "12"},
      {"12", "400", "12"},
      {"5", "90", "5"},
      {"14", "0", "14"},
      {"0", "", "0.0"},
      {"4", "1e40", "4"},
      {"0", "-100", "0"},
      // Only a single byte "0" to "4" takes a suffix.
      {"05", "90", "05"},
      {"00", "90", "00"},
      {"A", "90", "A"},
      {"/", "90", "/"},
      {":", "90", ":"},
      {"", "90", ""},
      {"0 ", "90", "0 "},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(GroupIdFor(row.symbol, HeadingClassOf(row.course)), row.gid)
        << "symbol \"" << row.symbol << "\" course \"" << row.course << '"';
  }
  for (int headingClass = 1; headingClass <= 15; ++headingClass) {
    EXPECT_EQ(GroupIdFor("3", headingClass), "3." + std::to_string(headingClass));
  }
  EXPECT_EQ(GroupIdFor("3", 16), "3.0");
  EXPECT_EQ(GroupIdFor("3", 17), "3");
  EXPECT_EQ(GroupIdFor("3", -1), "3");
}

}  // namespace
}  // namespace rigplot
