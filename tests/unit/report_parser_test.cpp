#include "report/report_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "nmea_test_util.h"

namespace rigplot {
namespace {

using test::FeedAll;
using test::kBody1;
using test::Report;
using test::Sentence;

class ReportParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ReportParser parser{&test::FixedClock};
};

TEST_F(ReportParserTest, FirstWorkedExampleFieldByField) {
  const std::string line1 = Sentence(kBody1);
  ASSERT_EQ(line1.substr(line1.size() - 3), "*77");  // the checksum the radio sends
  const auto done = FeedAll(parser, line1 + "\r\nNOCALL,  Hello\r");
  ASSERT_EQ(done.size(), 1u);
  const PendingReport& r = done[0];
  EXPECT_EQ(r.utcTime, "012345");
  EXPECT_EQ(r.latitude, "35/39.1234");
  EXPECT_EQ(r.longitude, "139/45.6789");
  EXPECT_EQ(r.speedKnots, "000.0");
  EXPECT_EQ(r.course, "123.4");
  EXPECT_EQ(r.utcDate, "071226");
  EXPECT_EQ(r.callsign, "NOCALL");
  EXPECT_EQ(r.repeater, "");
  EXPECT_EQ(r.symbol, "0");  // two blanks
  EXPECT_EQ(r.message, "Hello");
  EXPECT_STREQ(r.receivedAt, "26/12/07 21:23:45");
  EXPECT_EQ(parser.state(), 0);
  EXPECT_FALSE(parser.feedByte('\n'));
  EXPECT_EQ(parser.state(), 0);
}

TEST_F(ReportParserTest, SecondWorkedExampleRepeaterAndLongMessage) {
  const std::string stream =
      Sentence("GPRMC,012345,A,3539.1234,S,13945.6789,W,012.5,270.0,071226,,,A") +
      "\r\nRPT1\r\nNOCALL A,ab This message is too long\r\n";
  int completedAt = -1;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (parser.feedByte(static_cast<std::uint8_t>(stream[i]))) {
      ASSERT_EQ(completedAt, -1) << "completed twice";
      completedAt = static_cast<int>(i);
    }
  }
  ASSERT_NE(completedAt, -1);
  EXPECT_EQ(stream.substr(completedAt + 1), "oo long\r\n");
  const PendingReport& r = parser.report();
  EXPECT_EQ(r.latitude, "-35/39.1234");
  EXPECT_EQ(r.longitude, "-139/45.6789");
  EXPECT_EQ(r.speedKnots, "012.5");
  EXPECT_EQ(r.course, "270.0");
  EXPECT_EQ(r.repeater, "RPT1");
  EXPECT_EQ(r.callsign, "NOCALL A");
  EXPECT_EQ(r.symbol, "ab");
  EXPECT_EQ(r.message, " This message is t");
}

// One row per rule: a stream, whether it yields a report, and what a field holds.
struct Row {
  const char* legend;
  std::string stream;
  bool completes;
  std::string PendingReport::*field = nullptr;
  std::string expected = {};
};

std::string WithSentence(const std::string& body,
                         const std::string& after = "\r\nNOCALL,  Hi\r\n") {
  return Sentence(body) + after;
}

const std::vector<Row>& GrammarRows() {
  static const std::vector<Row> rows = {
      {"time with decimals drops at the point",
       WithSentence("GPRMC,123519.00,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A"), false},
      {"empty status accepted",
       WithSentence("GPRMC,012345,,3539.1234,N,13945.6789,E,0,1,071226,,,A"), true},
      {"status AA accepted",
       WithSentence("GPRMC,012345,AA,3539.1234,N,13945.6789,E,0,1,071226,,,A"), true},
      {"void fix V dropped", WithSentence("GPRMC,012345,V,3539.1234,N,13945.6789,E,0,1,071226,,,A"),
       false},
      {"empty latitude stays empty", WithSentence("GPRMC,012345,A,,,,,0,1,071226,,,A"), true,
       &PendingReport::latitude, ""},
      {"empty latitude with S is a bare sign", WithSentence("GPRMC,012345,A,,S,,W,0,1,071226,,,A"),
       true, &PendingReport::latitude, "-"},
      {"empty longitude with W is a bare sign", WithSentence("GPRMC,012345,A,,S,,W,0,1,071226,,,A"),
       true, &PendingReport::longitude, "-"},
      {"one latitude byte gets no slash", WithSentence("GPRMC,1,A,3,N,1,E,0,1,071226,,,A"), true,
       &PendingReport::latitude, "3"},
      {"two latitude bytes end in slash", WithSentence("GPRMC,1,A,35,N,1,E,0,1,071226,,,A"), true,
       &PendingReport::latitude, "35/"},
      {"three longitude bytes end in slash", WithSentence("GPRMC,1,A,35,N,139,E,0,1,071226,,,A"),
       true, &PendingReport::longitude, "139/"},
      {"S twice gives two signs", WithSentence("GPRMC,1,A,3539.1,SS,139,E,0,1,071226,,,A"), true,
       &PendingReport::latitude, "--35/39.1"},
      {"blank inside a numeric field", WithSentence("GPRMC,1,A,35 39.1,N,139,E,0,1,071226,,,A"),
       false},
      {"sign inside a numeric field", WithSentence("GPRMC,1,A,3539.1,N,139,E,-5,1,071226,,,A"),
       false},
      {"hemisphere letter of the wrong row",
       WithSentence("GPRMC,1,A,3539.1,E,139,E,0,1,071226,,,A"), false},
      {"point in the date", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,07.226,,,A"), false},
      {"empty mode indicator accepted", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,"),
       true},
      {"mode indicator D dropped", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,D"), false},
      {"no mode field: star in state 17", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,"),
       false},
      {"comma in the mode field", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,A,"), false},
      {"variation kept out", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,7.5,W,A"), true,
       &PendingReport::utcDate, "071226"},
      {"GGA never passes its second G", WithSentence("GPGGA,1,A,3539.1,N,139,E,0,1,071226,,,A"),
       false},
      {"lower-case sentence name", WithSentence("gprmc,1,A,3539.1,N,139,E,0,1,071226,,,A"), false},
      {"another talker", WithSentence("GNRMC,1,A,3539.1,N,139,E,0,1,071226,,,A"), false},
      {"dollar mid-sentence loses both sentences", "$GPRMC,01$" + WithSentence(kBody1).substr(1),
       false},
      {"dollar after the checksum digits is passed over", Sentence(kBody1) + "$\r\nAB,  x\r\n",
       true, &PendingReport::callsign, "AB"},
      {"dollar in the callsign line restarts", Sentence(kBody1) + "\r\nNO$" + WithSentence(kBody1),
       true, &PendingReport::callsign, "NOCALL"},
      {"dollar in the symbol restarts", Sentence(kBody1) + "\r\nNO,$" + WithSentence(kBody1), true,
       &PendingReport::callsign, "NOCALL"},
      {"dollar ends the message", Sentence(kBody1) + "\r\nNOCALL,  Hi$GPRMC", true,
       &PendingReport::message, "Hi"},
      {"repeater line", WithSentence(kBody1, "\r\nRPT1\r\nNOCALL,  Hi\r\n"), true,
       &PendingReport::repeater, "RPT1"},
      {"second repeater line wins", WithSentence(kBody1, "\r\nRPT1\r\nRPT2\r\nNOCALL,  Hi\r\n"),
       true, &PendingReport::repeater, "RPT2"},
      {"twelve-byte line keeps eight", WithSentence(kBody1, "\r\nABCDEFGHIJKL\r\nNOCALL,  Hi\r\n"),
       true, &PendingReport::repeater, "ABCDEFGH"},
      {"no repeater line leaves it empty", WithSentence(kBody1), true, &PendingReport::repeater,
       ""},
      {"ten-byte callsign keeps eight", WithSentence(kBody1, "\r\nJA1ABCDEFG,  Hi\r\n"), true,
       &PendingReport::callsign, "JA1ABCDE"},
      {"callsign keeps its blank", WithSentence(kBody1, "\r\nNOCALL A,  Hi\r\n"), true,
       &PendingReport::callsign, "NOCALL A"},
      {"> ends the callsign", WithSentence(kBody1, "\r\nNOCALL>12Hi\r\n"), true,
       &PendingReport::symbol, "12"},
      {"comma ends a one-byte symbol", WithSentence(kBody1, "\r\nNOCALL,A,Hi\r\n"), true,
       &PendingReport::symbol, "A"},
      {"message after a one-byte symbol", WithSentence(kBody1, "\r\nNOCALL,A,Hi\r\n"), true,
       &PendingReport::message, "Hi"},
      {"CR LF become the symbol", WithSentence(kBody1, "\r\nNOCALL,\r\nnext line\r\n"), true,
       &PendingReport::symbol, "\r\n"},
      {"message after a CR LF symbol", WithSentence(kBody1, "\r\nNOCALL,\r\nnext line\r\n"), true,
       &PendingReport::message, "next line"},
      {"one blank stays one blank", WithSentence(kBody1, "\r\nNOCALL, ,Hi\r\n"), true,
       &PendingReport::symbol, " "},
      {"top bit cleared in the message", WithSentence(kBody1, "\r\nNOCALL,  \xB1\r\n"), true,
       &PendingReport::message, "1"},
      {"zero byte dropped from the callsign",
       WithSentence(kBody1, std::string("\r\nNO\0CALL,  Hi\r\n", 16)), true,
       &PendingReport::callsign, "NOCALL"},
      {"zero byte dropped from the symbol",
       WithSentence(kBody1, std::string("\r\nNOCALL,1\0"
                                        "2Hi\r\n",
                                        16)),
       true, &PendingReport::symbol, "12"},
      {"zero bytes dropped from the message",
       WithSentence(kBody1, std::string("\r\nNOCALL,  H\0i\x80!\r\n", 17)), true,
       &PendingReport::message, "Hi!"},
      {"sentence fields keep 32 bytes",
       WithSentence("GPRMC,1234567890123456789012345678901234567890,A,,,,,0,1,071226,,,A"), true,
       &PendingReport::utcTime, "12345678901234567890123456789012"},
      {"capped latitude drops its sign",
       WithSentence("GPRMC,1,A,1234567890123456789012345678901234,S,,,0,1,071226,,,A"), true,
       &PendingReport::latitude, "12/34567890123456789012345678901"},
  };
  return rows;
}

TEST_F(ReportParserTest, GrammarRows) {
  for (const Row& row : GrammarRows()) {
    ReportParser fresh{&test::FixedClock};
    const auto done = FeedAll(fresh, row.stream);
    ASSERT_EQ(done.size(), row.completes ? 1u : 0u) << row.legend;
    if (row.completes && row.field != nullptr) {
      EXPECT_EQ(done[0].*row.field, row.expected) << row.legend;
    }
  }
}

TEST_F(ReportParserTest, ChecksumRows) {
  const std::string good = Sentence(kBody1);  // ends in *77
  const std::string stem = good.substr(0, good.size() - 2);
  std::string lower = Sentence("GPRMC,012345,A,3539.1234,S,13945.6789,W,012.5,270.0,071226,,,A");
  ASSERT_EQ(lower.substr(lower.size() - 2), "7F");
  lower.back() = 'f';
  const struct {
    const char* legend;
    std::string sentence;
    bool completes;
  } rows[] = {
      {"good", good, true},
      {"good with bytes after it", good + "xyz", true},
      {"lower-case digit", lower, true},
      {"wrong value", stem + "78", false},
      {"missing", stem, false},
      {"one digit", stem + "7", false},
      {"not hex", stem + "7G", false},
      {"corrupted byte in the sentence",
       "$GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.5,071226,,,A*77", false},
  };
  for (const auto& row : rows) {
    ReportParser fresh{&test::FixedClock};
    EXPECT_EQ(FeedAll(fresh, row.sentence + "\r\nNOCALL,  Hi\r\n").size(), row.completes ? 1u : 0u)
        << row.legend;
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST_F(ReportParserTest, AnySplitOfACapturedStreamGivesTheSameReports) {
  const std::string stream = ReadFile(RIGPLOT_TEST_DATA "/streams/mixed.nmea");
  ASSERT_FALSE(stream.empty());
  ReportParser whole{&test::FixedClock};
  const auto expected = FeedAll(whole, stream);
  ASSERT_GE(expected.size(), 4u);
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    ReportParser twoReads{&test::FixedClock};
    auto got = FeedAll(twoReads, std::string_view(stream).substr(0, split));
    const auto rest = FeedAll(twoReads, std::string_view(stream).substr(split));
    got.insert(got.end(), rest.begin(), rest.end());
    ASSERT_EQ(got.size(), expected.size()) << "split at " << split;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].callsign, expected[i].callsign);
      EXPECT_EQ(got[i].latitude, expected[i].latitude);
      EXPECT_EQ(got[i].message, expected[i].message);
    }
  }
}

TEST_F(ReportParserTest, FieldsOutliveCompletionAndResetUntilTheNextDollar) {
  ASSERT_EQ(FeedAll(parser, Report(kBody1, "NOCALL,  Hello")).size(), 1u);
  parser.reset();
  EXPECT_EQ(parser.report().callsign, "NOCALL");
  parser.feedByte('$');
  EXPECT_EQ(parser.report().callsign, "");
  EXPECT_EQ(parser.report().latitude, "");
  EXPECT_EQ(parser.state(), 1);
}

TEST_F(ReportParserTest, ReceivedAtWhenTheClockFails) {
  ReportParser noClock{[](std::time_t*) { return false; }};
  ASSERT_EQ(FeedAll(noClock, Report(kBody1, "NOCALL,  Hi")).size(), 1u);
  EXPECT_STREQ(noClock.report().receivedAt, "00/00/00 00:00:00");

  // A time localtime cannot convert.
  ReportParser farFuture{[](std::time_t* now) {
    *now = static_cast<std::time_t>(1) << 62;
    return true;
  }};
  ASSERT_EQ(FeedAll(farFuture, Report(kBody1, "NOCALL,  Hi")).size(), 1u);
  EXPECT_STREQ(farFuture.report().receivedAt, "00/00/00 00:00:00");
}

TEST_F(ReportParserTest, ReceivedAtFollowsTheClock) {
  static std::time_t now = 1796678625;
  ReportParser ticking{[](std::time_t* t) {
    *t = now;
    return true;
  }};
  FeedAll(ticking, Report(kBody1, "A,  1"));
  EXPECT_STREQ(ticking.report().receivedAt, "26/12/07 21:23:45");
  now += 1;
  FeedAll(ticking, Report(kBody1, "A,  1"));
  EXPECT_STREQ(ticking.report().receivedAt, "26/12/07 21:23:46");
}

}  // namespace
}  // namespace rigplot
