#include "tools/sim_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "report/report_parser.h"
#include "tests/support/nmea.h"
#include "tests/support/wait.h"
#include "tools/sim_args.h"
#include "tools/sim_link.h"

namespace rigplot {
namespace {

using test::FeedAll;
using test::FixedClock;

void ExpectDecodedAs(const PendingReport& got, const SimReport& want) {
  EXPECT_EQ(got.utcTime, want.utcTime);
  EXPECT_EQ(got.latitude, want.latitude);
  EXPECT_EQ(got.longitude, want.longitude);
  EXPECT_EQ(got.speedKnots, want.speedText);
  EXPECT_EQ(got.course, want.courseText);
  EXPECT_EQ(got.utcDate, want.utcDate);
  EXPECT_EQ(got.callsign, want.callsign);
  EXPECT_EQ(got.repeater, want.repeater);
  EXPECT_EQ(got.symbol, want.symbol);
  EXPECT_EQ(got.message, want.message);
}

// "35/39.1234" or "-139/45.6789" in degrees.
double Degrees(const std::string& text) {
  const auto slash = text.find('/');
  const bool negative = text[0] == '-';
  const double whole = std::fabs(std::stod(text.substr(0, slash)));
  const double minutes = std::stod(text.substr(slash + 1));
  return (negative ? -1 : 1) * (whole + minutes / 60.0);
}

int SecondsOfDay(const std::string& hhmmss) {
  return std::stoi(hhmmss.substr(0, 2)) * 3600 + std::stoi(hhmmss.substr(2, 2)) * 60 +
         std::stoi(hhmmss.substr(4, 2));
}

// The ground truth: each chunk through the real parser, one chunk at a time.
TEST(SimStreamTest, IntactReportsDecodeExactlyAndSpoiltOnesNever) {
  struct Row {
    const char* legend;
    std::uint64_t seed;
    int noise;
    int other;
  };
  const Row rows[] = {
      {"clean line", 1, 0, 20},
      {"default noise", 2, 2, 20},
      {"heavy noise", 3, 40, 20},
      {"noise on every report", 4, 100, 20},
      {"noise, no other sentences to reset the line", 5, 100, 0},
      {"heavy noise, other seed", 99, 60, 50},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.legend);
    SimOptions options;
    options.seed = row.seed;
    options.noisePercent = row.noise;
    options.otherSentencePercent = row.other;
    SimStream stream(options);
    ReportParser parser(&FixedClock);
    int intact = 0;
    int spoilt = 0;
    for (int i = 0; i < 600; ++i) {
      std::string chunk;
      const SimReport sent = stream.AppendNext(chunk);
      const auto done = FeedAll(parser, chunk);
      if (sent.intact) {
        ++intact;
        ASSERT_EQ(done.size(), 1u) << "report " << i << ":\n" << chunk;
        ExpectDecodedAs(done[0], sent);
      } else {
        ++spoilt;
        ASSERT_EQ(done.size(), 0u) << "report " << i << ":\n" << chunk;
      }
    }
    if (row.noise == 0) {
      EXPECT_EQ(spoilt, 0);
    } else if (row.noise >= 40) {
      EXPECT_GT(spoilt, 100);
    }
    EXPECT_GT(intact, 100);
  }
}

TEST(SimStreamTest, SameSeedSameBytesOtherSeedOtherBytes) {
  const auto bytes = [](std::uint64_t seed) {
    SimOptions options;
    options.seed = seed;
    options.noisePercent = 10;
    SimStream stream(options);
    std::string out;
    for (int i = 0; i < 300; ++i) stream.AppendNext(out);
    return out;
  };
  EXPECT_EQ(bytes(42), bytes(42));
  EXPECT_NE(bytes(42), bytes(43));
}

TEST(SimStreamTest, FieldsStayInRangeAndFixedStationsStayPut) {
  for (std::uint64_t seed : {1u, 2u, 3u}) {
    SimOptions options;
    options.seed = seed;
    options.noisePercent = 0;
    options.stations = 30;
    SimStream stream(options);
    std::map<std::string, std::pair<std::string, std::string>> fixedAt;
    std::set<std::string> symbols;
    for (int i = 0; i < 900; ++i) {
      std::string chunk;
      const SimReport r = stream.AppendNext(chunk);
      SCOPED_TRACE(chunk);
      for (const std::string* t : {&r.speedText, &r.courseText}) {
        ASSERT_EQ(t->size(), 5u);
        EXPECT_EQ((*t)[3], '.');
      }
      EXPECT_GE(r.courseDeg, 0.0);
      EXPECT_LE(r.courseDeg, 359.9);
      EXPECT_GE(r.speedKnots, 0.0);
      EXPECT_LE(r.speedKnots, 150.0);
      EXPECT_LE(r.callsign.size(), 8u);
      EXPECT_LE(r.message.size(), 18u);
      EXPECT_LT(std::fabs(r.latitudeDeg - 35.68), 0.7);
      EXPECT_LT(std::fabs(r.longitudeDeg - 139.69), 0.9);
      const int symbol = std::stoi(r.symbol);
      EXPECT_GE(symbol, 0);
      EXPECT_LE(symbol, 14);
      symbols.insert(r.symbol);
      if (symbol >= 5) {
        EXPECT_EQ(r.speedText, "000.0");
        const auto [at, first] = fixedAt.try_emplace(r.callsign, r.latitude, r.longitude);
        if (!first) {
          EXPECT_EQ(at->second, std::make_pair(r.latitude, r.longitude));
        }
      }
    }
    EXPECT_GE(symbols.size(), 6u) << "a mix of moving and fixed symbols";
  }
}

// Position advances by the speed and course of the station's previous report.
TEST(SimStreamTest, StationsMoveAsTheyAnnounced) {
  SimOptions options;
  options.seed = 11;
  options.noisePercent = 0;
  options.stations = 10;
  SimStream stream(options);
  ReportParser parser(&FixedClock);
  std::map<std::string, PendingReport> last;
  double travelled = 0;
  int turns = 0;
  for (int i = 0; i < 500; ++i) {
    std::string chunk;
    stream.AppendNext(chunk);
    const auto done = FeedAll(parser, chunk);
    ASSERT_EQ(done.size(), 1u);
    const PendingReport& now = done[0];
    const auto before = last.find(now.callsign);
    if (before != last.end()) {
      const PendingReport& prev = before->second;
      const double hours = (SecondsOfDay(now.utcTime) - SecondsOfDay(prev.utcTime)) / 3600.0;
      ASSERT_GT(hours, 0);
      const double lat0 = Degrees(prev.latitude);
      const double north = (Degrees(now.latitude) - lat0) * 60.0;
      const double east =
          (Degrees(now.longitude) - Degrees(prev.longitude)) * 60.0 * std::cos(lat0 * M_PI / 180);
      const double moved = std::hypot(north, east);
      const double expected = std::stod(prev.speedKnots) * hours;
      EXPECT_NEAR(moved, expected, 0.0005 + 0.005 * expected) << now.callsign;
      if (moved > 0.05) {
        const double bearing = std::fmod(std::atan2(east, north) * 180 / M_PI + 360, 360);
        const double off = std::fabs(bearing - std::stod(prev.course));
        EXPECT_LT(std::min(off, 360 - off), 1.0) << now.callsign;
      }
      if (prev.course != now.course) ++turns;
      travelled += moved;
    }
    last[now.callsign] = now;
  }
  EXPECT_GT(travelled, 10.0);  // nautical miles, all stations together
  EXPECT_GT(turns, 100);
}

TEST(SimStreamTest, EveryStationReportsUnderItsOwnCallsign) {
  for (int stations : {1, 2, 20, 100, 150}) {
    SCOPED_TRACE(stations);
    SimOptions options;
    options.seed = static_cast<std::uint64_t>(stations);
    options.stations = stations;
    options.noisePercent = 0;
    SimStream stream(options);
    std::set<std::string> callsigns;
    std::set<int> senders;
    for (int i = 0; i < stations; ++i) {
      std::string chunk;
      const SimReport r = stream.AppendNext(chunk);
      callsigns.insert(r.callsign);
      senders.insert(r.station);
      EXPECT_EQ(r.callsign.find_first_of(",>$\r\n"), std::string::npos) << r.callsign;
    }
    EXPECT_EQ(callsigns.size(), static_cast<std::size_t>(stations));
    EXPECT_EQ(senders.size(), static_cast<std::size_t>(stations));
  }
}

// One-digit symbols are ended early by ","; two-digit ones fill both symbol
// bytes and the blank that follows belongs to the message.
TEST(SimStreamTest, CallsignLineFormsDecodeAsMeant) {
  struct Row {
    const char* callsign;
    const char* symbol;
    const char* message;
    const char* line;
    const char* wantSymbol;
    const char* wantMessage;
  };
  const Row rows[] = {
      {"JA1ABC", "0", "Hello", "JA1ABC,0,Hello", "0", "Hello"},
      {"JA1ABC", "12", "Hello", "JA1ABC,12 Hello", "12", " Hello"},
      {"JH1XYZ A", "5", "", "JH1XYZ A,5,", "5", ""},
      {"JH1XYZ A", "14", "", "JH1XYZ A,14", "14", ""},
      {"NOCALL", "  ", "Hello", "NOCALL,  Hello", "0", "Hello"},
      {"JA1ABC", "3", "Fishing at Tokyo Bay", "JA1ABC,3,Fishing at Tokyo Bay", "3",
       "Fishing at Tokyo B"},
      {"JA1ABC", "10", "Fishing at Tokyo Bay", "JA1ABC,10 Fishing at Tokyo Bay", "10",
       " Fishing at Tokyo "},
      {"7K1AB", "4", "\xBA\xDD", "7K1AB,4,\xBA\xDD", "4", ":]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const std::string line = CallsignLine(row.callsign, row.symbol, row.message);
    EXPECT_EQ(line, row.line);
    ReportParser parser(&FixedClock);
    const auto done = FeedAll(
        parser, NmeaSentence("GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A") +
                    "\r\n" + line + "\r\n");
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].callsign, row.callsign);
    EXPECT_EQ(done[0].symbol, row.wantSymbol);
    EXPECT_EQ(done[0].message, row.wantMessage);
  }
}

TEST(SimStreamTest, OtherSentencesCarryValidChecksums) {
  SimOptions options;
  options.noisePercent = 0;
  options.otherSentencePercent = 100;
  SimStream stream(options);
  std::string out;
  for (int i = 0; i < 200; ++i) stream.AppendNext(out);
  std::set<std::string> kinds;
  std::size_t at = 0;
  while ((at = out.find('$', at)) != std::string::npos) {
    const std::size_t end = out.find("\r\n", at);
    const std::string sentence = out.substr(at, end - at);
    const std::size_t star = sentence.find('*');
    ASSERT_NE(star, std::string::npos) << sentence;
    EXPECT_EQ(NmeaSentence(sentence.substr(1, star - 1)), sentence);
    kinds.insert(sentence.substr(0, 6));
    at = end;
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"$GPGGA", "$GPGSA", "$GPGSV", "$GPRMC", "$GPVTG"}));
}

// Lets the link take in the receiver's XOFF.
::testing::AssertionResult TakesXoff(SimLink& link, const std::atomic<bool>& stop) {
  return test::WaitFor(
      "the link to take in XOFF", [&] { return link.Pause(0.01, stop) && link.held(); },
      [&] { return "not held; line error \"" + link.error() + "\""; });
}

// The receiver's end of a simulator's pseudo-terminal.
class Receiver {
 public:
  explicit Receiver(const std::string& path)
      : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
  ~Receiver() {
    if (m_fd >= 0) close(m_fd);
  }
  bool ok() const { return m_fd >= 0; }
  void Send(unsigned char byte) const { ASSERT_EQ(write(m_fd, &byte, 1), 1); }
  // Reads what has arrived, waiting up to `ms` for the first byte.
  std::string Read(int ms) const {
    std::string got;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return got;
    char block[4096];
    ssize_t n;
    while ((n = read(m_fd, block, sizeof block)) > 0)
      got.append(block, static_cast<std::size_t>(n));
    return got;
  }
  // Reads until `got` holds `size` bytes; a timeout fails with what came.
  ::testing::AssertionResult Receive(std::size_t size, std::string& got) const {
    return test::WaitFor(
        std::to_string(size) + " bytes from the simulator",
        [&] {
          got += Read(100);
          return got.size() >= size;
        },
        [&] { return std::to_string(got.size()) + " bytes: \"" + got + "\""; });
  }
  // Bytes waiting in the line's buffer, unread.
  int Queued() const {
    int queued = -1;
    ioctl(m_fd, FIONREAD, &queued);
    return queued;
  }

 private:
  int m_fd;
};

TEST(SimLinkTest, PseudoTerminalCarriesTheBytesAndNamesItsPort) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  EXPECT_EQ(link->portName().rfind("pts/", 0), 0u) << link->portName();
  EXPECT_EQ(link->devicePath(), "/dev/" + link->portName());
  Receiver receiver(link->devicePath());
  ASSERT_TRUE(receiver.ok());
  std::atomic<bool> stop{false};
  const std::string bytes = "$GPRMC,1\r\n\x01\xFF\r";  // raw: no CR/LF translation
  ASSERT_TRUE(link->Send(bytes, stop));
  std::string got;
  ASSERT_TRUE(receiver.Receive(bytes.size(), got));
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(link->bytesSent(), bytes.size());
}

TEST(SimLinkTest, XoffHoldsTheLineUntilXon) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  Receiver receiver(link->devicePath());
  ASSERT_TRUE(receiver.ok());
  std::atomic<bool> stop{false};

  receiver.Send(0x13);
  ASSERT_TRUE(TakesXoff(*link, stop));

  std::thread sender([&] { EXPECT_TRUE(link->Send("JA1ABC,0,Hello\r\n", stop)); });
  const std::string early = receiver.Read(300);
  EXPECT_EQ(early, "") << "sent while held";
  receiver.Send(0x11);
  sender.join();
  EXPECT_FALSE(link->held());
  std::string got;
  ASSERT_TRUE(receiver.Receive(16, got));
  EXPECT_EQ(got, "JA1ABC,0,Hello\r\n");
}

// A receiver that leaves takes its XOFF with it, and what is sent meanwhile
// waits for the next one.
TEST(SimLinkTest, ReceiversMayComeAndGo) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  std::atomic<bool> stop{false};
  {
    Receiver first(link->devicePath());
    ASSERT_TRUE(first.ok());
    first.Send(0x13);
    ASSERT_TRUE(TakesXoff(*link, stop));
  }
  std::thread watchdog([&] {
    test::WaitUntil([&] { return stop.load(); });
    stop = true;
  });
  const bool sent = link->Send("JA1ABC,0,Hello\r\n", stop);
  stop = true;
  watchdog.join();
  EXPECT_TRUE(sent) << "still held by a receiver that has gone";
  EXPECT_TRUE(link->error().empty()) << link->error();

  Receiver second(link->devicePath());
  ASSERT_TRUE(second.ok());
  std::string got;
  ASSERT_TRUE(second.Receive(16, got));
  EXPECT_EQ(got, "JA1ABC,0,Hello\r\n");
}

TEST(SimLinkTest, BaudRatePacesTheLine) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  Receiver receiver(link->devicePath());
  link->SetBaud(19200);  // 1920 bytes a second
  std::atomic<bool> stop{false};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(link->Send(std::string(960, 'x'), stop));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took.count(), 0.45);
}

// The run ends only once the receiver has read every byte, and the bytes are
// the generator's, report for report.
TEST(SimLinkTest, RunDeliversTheStreamAndWaitsForTheReader) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  SimOptions options;
  options.seed = 3;
  options.noisePercent = 10;
  SimRunOptions run;
  run.count = 40;
  run.interval = 0;
  run.linger = 0;
  std::atomic<bool> stop{false};
  std::atomic<bool> finished{false};
  SimRunResult result;
  std::thread runner([&] {
    SimStream stream(options);
    result = RunSimulation(stream, *link, run, stop);
    finished = true;
  });

  Receiver receiver(link->devicePath());
  ASSERT_TRUE(receiver.ok());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(finished.load()) << "ended before the receiver read anything";
  std::string got;
  const ::testing::AssertionResult ended = test::WaitFor(
      "the run to end",
      [&] {
        got += receiver.Read(100);
        return finished.load();
      },
      [&] { return std::to_string(got.size()) + " bytes read"; });
  if (!ended) stop = true;
  runner.join();
  ASSERT_TRUE(ended);
  got += receiver.Read(0);

  SimStream expected(options);
  std::string want;
  std::uint64_t intact = 0;
  for (int i = 0; i < 40; ++i) intact += expected.AppendNext(want).intact ? 1 : 0;
  EXPECT_EQ(got, want);
  EXPECT_EQ(result.reports, 40u);
  EXPECT_EQ(result.intact, intact);
  EXPECT_FALSE(result.lineFailed);
}

TEST(SimLinkTest, StopEndsARunThatNobodyReads) {
  std::string error;
  std::optional<SimLink> link = SimLink::OpenPseudoTerminal(&error);
  ASSERT_TRUE(link) << error;
  SimRunOptions run;  // endless
  run.interval = 0;
  std::atomic<bool> stop{false};
  SimRunResult result;
  std::thread runner([&] {
    SimStream stream(SimOptions{});
    result = RunSimulation(stream, *link, run, stop);
  });
  // Nobody reads: the line's buffer fills and the sender waits for room.
  Receiver idle(link->devicePath());
  const ::testing::AssertionResult full = test::WaitFor(
      "the line's buffer to fill", [&] { return idle.Queued() >= 3500; },
      [&] { return std::to_string(idle.Queued()) + " bytes queued"; });
  stop = true;
  runner.join();
  ASSERT_TRUE(full);
  EXPECT_GT(result.reports, 10u);
  EXPECT_FALSE(result.lineFailed);
}

TEST(SimCommandLineTest, ReadsOptionsAndRefusesBadOnes) {
  const auto parse = [](std::vector<const char*> args, SimCommandLine* cl, std::string* error) {
    args.insert(args.begin(), "rigplot-sim");
    return ParseSimCommandLine(static_cast<int>(args.size()), args.data(), cl, error);
  };
  SimCommandLine cl;
  std::string error;

  ASSERT_TRUE(parse({}, &cl, &error)) << error;
  EXPECT_EQ(cl.stream.stations, 20);
  EXPECT_EQ(cl.run.count, 0u);
  EXPECT_EQ(cl.baud, 9600);
  EXPECT_FALSE(cl.fast);
  EXPECT_DOUBLE_EQ(cl.run.interval, 0.5);
  EXPECT_DOUBLE_EQ(cl.run.linger, 1.0);
  EXPECT_TRUE(cl.run.realTime);
  EXPECT_TRUE(cl.tty.empty());

  ASSERT_TRUE(parse({"--seed=7", "--count", "5", "--stations", "150", "--noise", "0"}, &cl, &error))
      << error;
  EXPECT_EQ(cl.stream.seed, 7u);
  EXPECT_FALSE(cl.run.realTime);
  EXPECT_EQ(cl.run.count, 5u);
  EXPECT_EQ(cl.stream.stations, 150);
  EXPECT_EQ(cl.stream.noisePercent, 0);

  ASSERT_TRUE(parse({"--fast"}, &cl, &error)) << error;
  EXPECT_TRUE(cl.fast);
  EXPECT_DOUBLE_EQ(cl.run.interval, 0.0);
  ASSERT_TRUE(parse({"--interval", "0.2", "--fast"}, &cl, &error)) << error;
  EXPECT_DOUBLE_EQ(cl.run.interval, 0.2);

  ASSERT_TRUE(
      parse({"--centre", "-33.87,151.21", "--tty", "/dev/ttyUSB1", "--baud=4800"}, &cl, &error))
      << error;
  EXPECT_DOUBLE_EQ(cl.stream.centreLatitude, -33.87);
  EXPECT_DOUBLE_EQ(cl.stream.centreLongitude, 151.21);
  EXPECT_EQ(cl.tty, "/dev/ttyUSB1");
  EXPECT_EQ(cl.baud, 4800);

  const std::vector<std::vector<const char*>> refused = {
      {"--count", "0"},
      {"--count"},
      {"--count", "-1"},
      {"--stations", "0"},
      {"--stations", "1001"},
      {"--noise", "101"},
      {"--interval", "-1"},
      {"--baud", "9600x"},
      {"--centre", "35"},
      {"--centre", "95,0"},
      {"--fast=1"},
      {"--bogus"},
      {"--tty="},
      {"--linger", "nan"},
  };
  for (const auto& args : refused) {
    error.clear();
    EXPECT_FALSE(parse(args, &cl, &error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

}  // namespace
}  // namespace rigplot
