#include "report/report_parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tests/support/files.h"
#include "tests/support/nmea.h"

namespace rigplot {

// Whole reports in failure messages.
void PrintTo(const PendingReport& r, std::ostream* os) {
  *os << '{' << r.utcTime << '|' << r.latitude << '|' << r.longitude << '|' << r.speedKnots << '|'
      << r.course << '|' << r.utcDate << '|' << r.callsign << '|' << r.repeater << '|' << r.symbol
      << '|' << r.message << '|' << r.receivedAt << '|' << r.receivedTime << '}';
}

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

// Through the block entry, one call per report.
std::vector<PendingReport> FeedBlock(ReportParser& parser, std::string_view bytes) {
  std::vector<PendingReport> done;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    const ReportParser::FeedResult r = parser.feed(data + at, bytes.size() - at);
    at += r.consumed;
    if (r.completed) done.push_back(parser.report());
  }
  return done;
}

// A report as FixedClock stamps it, from its ten text fields in order, each
// followed by "|": time, latitude, longitude, speed, course, date, callsign,
// repeater, symbol, message.
PendingReport Expected(std::string_view fields) {
  PendingReport r;
  for (std::string* f : {&r.utcTime, &r.latitude, &r.longitude, &r.speedKnots, &r.course,
                         &r.utcDate, &r.callsign, &r.repeater, &r.symbol, &r.message}) {
    const std::size_t bar = fields.find('|');
    f->assign(fields.substr(0, bar));
    fields.remove_prefix(bar + 1);
  }
  std::memcpy(r.receivedAt, "26/12/07 21:23:45", 18);
  r.receivedTime = 1796678625;
  return r;
}

// The fields of kBody1 and of a short body.
const std::string k1 = "012345|35/39.1234|139/45.6789|000.0|123.4|071226|";
const std::string kShort = "1|35/39.1|139/|0|1|071226|";
const std::string kHi = "NOCALL||0|Hi|";

std::string WithSentence(const std::string& body,
                         const std::string& after = "\r\nNOCALL,  Hi\r\n") {
  return Sentence(body) + after;
}

// One row per rule: a stream and the one report it yields ("" for none).
struct Row {
  const char* legend;
  std::string stream;
  std::string report;
};

std::vector<Row> Rows() {
  const std::string good = Sentence(kBody1);  // ends in *77
  const std::string stem = good.substr(0, good.size() - 2);
  std::string lower = Sentence("GPRMC,012345,A,3539.1234,S,13945.6789,W,012.5,270.0,071226,,,A");
  lower.back() = 'f';  // *7F
  return {
      {"complete at the CR after the message", good + "\r\nNOCALL,  Hello\r",
       k1 + "NOCALL||0|Hello|"},
      {"south, west, repeater, message cut at 18 bytes",
       Sentence("GPRMC,012345,A,3539.1234,S,13945.6789,W,012.5,270.0,071226,,,A") +
           "\r\nRPT1\r\nNOCALL A,ab This message is too long\r\n",
       "012345|-35/39.1234|-139/45.6789|012.5|270.0|071226|NOCALL A|RPT1|ab| This message is t|"},
      {"time with decimals drops at the point",
       WithSentence("GPRMC,123519.00,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A"), ""},
      {"empty status accepted",
       WithSentence("GPRMC,012345,,3539.1234,N,13945.6789,E,0,1,071226,,,A"),
       "012345|35/39.1234|139/45.6789|0|1|071226|" + kHi},
      {"status AA accepted",
       WithSentence("GPRMC,012345,AA,3539.1234,N,13945.6789,E,0,1,071226,,,A"),
       "012345|35/39.1234|139/45.6789|0|1|071226|" + kHi},
      {"void fix V dropped", WithSentence("GPRMC,012345,V,3539.1234,N,13945.6789,E,0,1,071226,,,A"),
       ""},
      {"empty coordinates stay empty", WithSentence("GPRMC,012345,A,,,,,0,1,071226,,,A"),
       "012345|||0|1|071226|" + kHi},
      {"empty coordinates with S and W are bare signs",
       WithSentence("GPRMC,012345,A,,S,,W,0,1,071226,,,A"), "012345|-|-|0|1|071226|" + kHi},
      {"one degree byte gets no slash", WithSentence("GPRMC,1,A,3,N,1,E,0,1,071226,,,A"),
       "1|3|1|0|1|071226|" + kHi},
      {"the degree digits end in a slash", WithSentence("GPRMC,1,A,35,N,139,E,0,1,071226,,,A"),
       "1|35/|139/|0|1|071226|" + kHi},
      {"S twice gives two signs", WithSentence("GPRMC,1,A,3539.1,SS,139,E,0,1,071226,,,A"),
       "1|--35/39.1|139/|0|1|071226|" + kHi},
      {"blank inside a numeric field", WithSentence("GPRMC,1,A,35 39.1,N,139,E,0,1,071226,,,A"),
       ""},
      {"sign inside a numeric field", WithSentence("GPRMC,1,A,3539.1,N,139,E,-5,1,071226,,,A"), ""},
      {"hemisphere letter of the wrong row",
       WithSentence("GPRMC,1,A,3539.1,E,139,E,0,1,071226,,,A"), ""},
      {"point in the date", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,07.226,,,A"), ""},
      {"empty mode indicator accepted", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,"),
       kShort + kHi},
      {"mode indicator D dropped", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,D"), ""},
      {"no mode field: star in state 17", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,"),
       ""},
      {"comma in the mode field", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,,,A,"), ""},
      {"variation kept out", WithSentence("GPRMC,1,A,3539.1,N,139,E,0,1,071226,7.5,W,A"),
       kShort + kHi},
      {"GGA never passes its second G", WithSentence("GPGGA,1,A,3539.1,N,139,E,0,1,071226,,,A"),
       ""},
      {"lower-case sentence name", WithSentence("gprmc,1,A,3539.1,N,139,E,0,1,071226,,,A"), ""},
      {"another talker", WithSentence("GNRMC,1,A,3539.1,N,139,E,0,1,071226,,,A"), ""},
      {"dollar mid-sentence loses both sentences", "$GPRMC,01$" + WithSentence(kBody1).substr(1),
       ""},
      {"dollar after the checksum digits is passed over", good + "$\r\nAB,  x\r\n",
       k1 + "AB||0|x|"},
      {"dollar in the callsign line restarts", good + "\r\nNO$" + WithSentence(kBody1), k1 + kHi},
      {"dollar in the symbol restarts", good + "\r\nNO,$" + WithSentence(kBody1), k1 + kHi},
      {"dollar ends the message", good + "\r\nNOCALL,  Hi$GPRMC", k1 + kHi},
      {"repeater line", WithSentence(kBody1, "\r\nRPT1\r\nNOCALL,  Hi\r\n"),
       k1 + "NOCALL|RPT1|0|Hi|"},
      {"second repeater line wins", WithSentence(kBody1, "\r\nRPT1\r\nRPT2\r\nNOCALL,  Hi\r\n"),
       k1 + "NOCALL|RPT2|0|Hi|"},
      {"twelve-byte line keeps eight", WithSentence(kBody1, "\r\nABCDEFGHIJKL\r\nNOCALL,  Hi\r\n"),
       k1 + "NOCALL|ABCDEFGH|0|Hi|"},
      {"ten-byte callsign keeps eight", WithSentence(kBody1, "\r\nJA1ABCDEFG,  Hi\r\n"),
       k1 + "JA1ABCDE||0|Hi|"},
      {"callsign keeps its blank", WithSentence(kBody1, "\r\nNOCALL A,  Hi\r\n"),
       k1 + "NOCALL A||0|Hi|"},
      {"> ends the callsign", WithSentence(kBody1, "\r\nNOCALL>12Hi\r\n"), k1 + "NOCALL||12|Hi|"},
      {"comma ends a one-byte symbol", WithSentence(kBody1, "\r\nNOCALL,A,Hi\r\n"),
       k1 + "NOCALL||A|Hi|"},
      {"CR LF become the symbol", WithSentence(kBody1, "\r\nNOCALL,\r\nnext line\r\n"),
       k1 + "NOCALL||\r\n|next line|"},
      {"one blank stays one blank", WithSentence(kBody1, "\r\nNOCALL, ,Hi\r\n"),
       k1 + "NOCALL|| |Hi|"},
      {"top bit cleared in the message", WithSentence(kBody1, "\r\nNOCALL,  \xB1\r\n"),
       k1 + "NOCALL||0|1|"},
      {"zero byte dropped from the callsign",
       WithSentence(kBody1, std::string("\r\nNO\0CALL,  Hi\r\n", 16)), k1 + kHi},
      {"zero byte dropped from the symbol",
       WithSentence(kBody1, std::string("\r\nNOCALL,1\0"
                                        "2Hi\r\n",
                                        16)),
       k1 + "NOCALL||12|Hi|"},
      {"zero bytes dropped from the message",
       WithSentence(kBody1, std::string("\r\nNOCALL,  H\0i\x80!\r\n", 17)), k1 + "NOCALL||0|Hi!|"},
      {"sentence fields keep 32 bytes",
       WithSentence("GPRMC,1234567890123456789012345678901234567890,A,,,,,0,1,071226,,,A"),
       "12345678901234567890123456789012|||0|1|071226|" + kHi},
      {"capped latitude drops its sign",
       WithSentence("GPRMC,1,A,1234567890123456789012345678901234,S,,,0,1,071226,,,A"),
       "1|12/34567890123456789012345678901||0|1|071226|" + kHi},
      {"checksum with bytes after it", good + "xyz\r\nNOCALL,  Hi\r\n", k1 + kHi},
      {"lower-case checksum digit", lower + "\r\nNOCALL,  Hi\r\n",
       "012345|-35/39.1234|-139/45.6789|012.5|270.0|071226|" + kHi},
      {"wrong checksum", stem + "78\r\nNOCALL,  Hi\r\n", ""},
      {"missing checksum", stem + "\r\nNOCALL,  Hi\r\n", ""},
      {"one checksum digit", stem + "7\r\nNOCALL,  Hi\r\n", ""},
      {"checksum not hex", stem + "7G\r\nNOCALL,  Hi\r\n", ""},
      {"corrupted byte in the sentence",
       "$GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.5,071226,,,A*77\r\nNOCALL,  Hi\r\n", ""},
  };
}

TEST_F(ReportParserTest, Rows) {
  for (const Row& row : Rows()) {
    std::vector<PendingReport> expected;
    if (!row.report.empty()) expected.push_back(Expected(row.report));
    ReportParser bytes{&test::FixedClock};
    EXPECT_EQ(FeedAll(bytes, row.stream), expected) << row.legend;
    ReportParser block{&test::FixedClock};
    EXPECT_EQ(FeedBlock(block, row.stream), expected) << row.legend << ", block entry";
  }
}

TEST_F(ReportParserTest, BothEntriesStopOnTheByteThatCompletes) {
  // The eighteenth message byte completes; the rest of the line is left over.
  const std::string stream = Report(kBody1, "NOCALL,ab This message is too long");
  std::size_t taken = 0;
  while (taken < stream.size() && !parser.feedByte(static_cast<std::uint8_t>(stream[taken++]))) {
  }
  ASSERT_EQ(stream.substr(taken), "oo long\r\n");
  EXPECT_EQ(parser.state(), ParseState::kGround);

  ReportParser block{&test::FixedClock};
  const auto r = block.feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size());
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.consumed, taken);
  EXPECT_EQ(block.report(), parser.report());
  EXPECT_EQ(block.state(), ParseState::kGround);
  EXPECT_FALSE(parser.feedByte('\n'));
  EXPECT_EQ(parser.state(), ParseState::kGround);
}

// The block entry, given the stream in two reads cut anywhere, agrees with the
// byte entry: same state and fields at the cut, same reports in the end.
TEST_F(ReportParserTest, BlockAndByteEntriesAgreeForEveryCut) {
  for (const char* name : {"mixed.nmea", "noisy.nmea"}) {
    const std::string stream = test::ReadWholeFile(std::string(RIGPLOT_TEST_DATA "/streams/") + name);
    ASSERT_FALSE(stream.empty()) << name;
    ReportParser whole{&test::FixedClock};
    const auto expected = FeedAll(whole, stream);
    ASSERT_GE(expected.size(), 4u) << name;
    ReportParser bytes{&test::FixedClock};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
      ReportParser twoReads{&test::FixedClock};
      auto got = FeedBlock(twoReads, std::string_view(stream).substr(0, cut));
      ASSERT_EQ(twoReads.state(), bytes.state()) << name << " cut at " << cut;
      ASSERT_EQ(twoReads.report(), bytes.report()) << name << " cut at " << cut;
      const auto rest = FeedBlock(twoReads, std::string_view(stream).substr(cut));
      got.insert(got.end(), rest.begin(), rest.end());
      ASSERT_EQ(got, expected) << name << " cut at " << cut;
      if (cut < stream.size()) (void)bytes.feedByte(static_cast<std::uint8_t>(stream[cut]));
    }
  }
}

TEST_F(ReportParserTest, FieldsOutliveCompletionAndResetUntilTheNextDollar) {
  ASSERT_EQ(FeedAll(parser, Report(kBody1, "NOCALL,  Hello")).size(), 1u);
  parser.reset();
  EXPECT_EQ(parser.report().callsign, "NOCALL");
  EXPECT_FALSE(parser.feedByte('$'));
  EXPECT_EQ(parser.report().callsign, "");
  EXPECT_EQ(parser.report().latitude, "");
  EXPECT_EQ(parser.state(), ParseState::kDollar);
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
