// SPDX-License-Identifier: MIT
// A simulated D-STAR radio's serial traffic: position reports of a set of
// moving and fixed stations, as the radio passes them out of its data port.
//
// A report is a $GPRMC sentence, optionally one or two repeater lines, and the
// callsign line, each ended by CR LF:
//   $GPRMC,012345,A,3539.1234,N,13945.6789,E,012.5,270.0,071226,,,A*HH
//   JR1WN  B
//   JA1ABC,0,Hello            one-digit symbol, ended early by ","
//   JH1XYZ A,12 Fishing       two-digit symbol, the message keeps its blank
// Between reports come other sentences of the radio's GPS ($GPGGA, ...) and,
// at the chosen rate, line noise: junk bytes, a garbled or truncated sentence,
// a wrong checksum, a void fix, a sentence whose callsign line was lost.
//
// Owns: the stations, the random source and the simulated clock.
// Invariants: the same options give the same bytes; an intact report decodes
// to exactly the fields in its SimReport, a spoilt one never completes, and
// nothing between reports can complete or swallow a report.
// Thread: one owner; no shared state.
#pragma once

#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace rigplot {

struct SimOptions {
  std::uint64_t seed = 1;
  int stations = 20;
  double centreLatitude = 35.68;       // degrees, south negative (Tokyo by default)
  double centreLongitude = 139.69;     // degrees, west negative
  double radiusKm = 25.0;              // stations start inside it and head back when outside
  int noisePercent = 2;                // share of reports spoilt or preceded by junk, 0 to 100
  int otherSentencePercent = 20;       // share of reports preceded by a $GPGGA, $GPGSA, ...
  std::time_t startTime = 1796601600;  // simulated clock start: 2026-12-07 00:00:00 UTC
};

// One report as sent, and what a receiver decodes from it.
struct SimReport {
  bool intact = false;  // false: spoilt on purpose, must not decode
  int station = 0;      // index of the sender, 0 to stations - 1
  double utcSeconds = 0;
  double latitudeDeg = 0;  // position, speed and course as sent, after rounding
  double longitudeDeg = 0;
  double speedKnots = 0;
  double courseDeg = 0;
  // The decoded fields, in the receiver's form ("35/39.1234", symbol "0" for
  // two blanks, message cut to 18 seven-bit bytes).
  std::string utcTime;
  std::string latitude;
  std::string longitude;
  std::string speedText;
  std::string courseText;
  std::string utcDate;
  std::string callsign;
  std::string repeater;
  std::string symbol;
  std::string message;
};

// "$" + body + "*" + the two upper-case hex digits of the XOR of the body.
std::string NmeaSentence(std::string_view body);

// The callsign line without its line end. A one-digit symbol is followed by
// "," so that it ends early; a two-digit symbol fills both symbol bytes and a
// blank separates the message. A symbol "  " (two blanks) is sent as is.
std::string CallsignLine(std::string_view callsign, std::string_view symbol,
                         std::string_view message);

class SimStream {
 public:
  explicit SimStream(const SimOptions& options);

  // Appends the next report, with whatever precedes it on the line, to `out`,
  // stamped by the simulated clock, which advances 1 to 4 s per report.
  SimReport AppendNext(std::string& out);

  // The same, stamped with the given UTC time (seconds since the epoch).
  SimReport AppendNextAt(std::string& out, double utcSeconds);

  const SimOptions& options() const { return m_options; }
  std::uint64_t reportsMade() const { return m_reportsMade; }

 private:
  struct Station {
    std::string callsign;
    std::string symbol;    // "0" to "14", or "  " for a blank symbol
    std::string message;   // as sent, before the receiver's cut
    std::string repeater;  // 8 bytes, or empty when heard direct
    bool moving = false;
    double latitude = 0;  // degrees
    double longitude = 0;
    double speedKnots = 0;  // what the last report announced
    double courseDeg = 0;
    double cruiseKnots = 0;  // typical speed of this station
    double lastReport = -1;  // UTC seconds; negative before the first report
  };

  enum class Spoil { kNone, kBadChecksum, kGarbledByte, kTruncated, kLostCallsignLine, kVoidFix };

  double Uniform();  // [0, 1)
  double Uniform(double lo, double hi);
  int Below(int n);  // 0 to n - 1
  bool Chance(int percent);

  std::string NewCallsign();
  std::string NewRepeater();
  std::string PickMessage();
  void Move(Station& station, double now);
  std::string OtherSentence(const Station& station, std::time_t now);
  std::string JunkBytes();
  int NextStation();

  SimOptions m_options;
  std::mt19937_64 m_random;
  std::vector<Station> m_stations;
  std::vector<std::string> m_repeaters;
  std::vector<int> m_round;     // sending order of the current round, consumed from the back
  double m_clock;               // simulated UTC seconds
  bool m_sentenceOpen = false;  // the last report left the receiver inside a report
  std::uint64_t m_reportsMade = 0;
};

}  // namespace rigplot
