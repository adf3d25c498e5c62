// SPDX-License-Identifier: MIT
// The report parser: turns the radio's serial text into position reports,
// with no line buffer.
//
// A report is a $GPRMC sentence followed by a callsign line:
//   $GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A*77\r\n
//   NOCALL,  Hello\r\n
// Plain lines between the two are tolerated; the last one becomes the repeater.
//
// Two entries, one grammar: feed takes a block, feedByte one byte, and both
// run the same transition, which moves through a run of bytes that only fills
// a field or is passed over in one go. Any cut of the bytes into blocks gives
// the same reports, fields and state.
//
// Owns: the state and the fields of the report in progress.
// Invariants: callsign and repeater hold at most 8 bytes, symbol at most 2,
// message at most 18 seven-bit bytes, each sentence field at most 32 bytes.
// Thread: one thread feeds; reset runs before it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace rigplot {

// The fields of one report; the parser fills them, the station table copies them.
struct PendingReport {
  std::string utcTime;            // hhmmss digits as received
  std::string latitude;           // "35/39.1234", "-" in front for south
  std::string longitude;          // "139/45.6789", "-" in front for west
  std::string speedKnots;         // digits and "." as received
  std::string course;             // digits and "." as received
  std::string utcDate;            // ddmmyy digits as received
  std::string callsign;           // at most 8 bytes, blanks and case kept
  std::string repeater;           // at most 8 bytes
  std::string symbol;             // at most 2 bytes; two blanks become "0"
  std::string message;            // at most 18 bytes, top bit cleared
  char receivedAt[18] = {};       // "yy/mm/dd hh:mm:ss" local time, zero padded
  std::time_t receivedTime = -1;  // the clock reading receivedAt shows; -1 when unreadable

  friend bool operator==(const PendingReport&, const PendingReport&) = default;
};

// Where the parser is in the radio's text. Each state keeps its number, 0 to
// 23, so that a state written down as a number still means the same.
enum class ParseState : std::uint8_t {
  kGround = 0,               // waiting for "$"
  kDollar = 1,               // after "$"
  kG = 2,                    // after "$G"
  kGP = 3,                   // after "$GP"
  kGPR = 4,                  // after "$GPR"
  kGPRM = 5,                 // after "$GPRM"
  kGPRMC = 6,                // after "$GPRMC"
  kTime = 7,                 // UTC time: digits only
  kStatus = 8,               // status: empty or "A"
  kLatitude = 9,             // latitude; "/" goes in after the two degree digits
  kNorthSouth = 10,          // "N", or "S" which puts "-" in front of the latitude
  kLongitude = 11,           // longitude; "/" goes in after the three degree digits
  kEastWest = 12,            // "E", or "W" which puts "-" in front of the longitude
  kSpeed = 13,               // speed over ground, knots
  kCourse = 14,              // course over ground, degrees
  kDate = 15,                // date: digits only
  kVariation = 16,           // magnetic variation, not kept
  kVariationDirection = 17,  // "E" or "W", not kept
  kMode = 18,                // mode indicator: empty or "A", then "*"
  kChecksum = 19,            // hex digits after "*", up to CR
  kCallsign = 20,            // callsign line; earlier plain lines become the repeater
  kSymbol = 21,              // two bytes, or fewer ended by ","
  kMessage = 22,             // up to 18 seven-bit bytes
  kComplete = 23,            // report complete; the parser is back on the ground at once
};

class ReportParser {
 public:
  static constexpr std::size_t kMaxCallsign = 8;
  static constexpr std::size_t kMaxSymbol = 2;
  static constexpr std::size_t kMaxMessage = 18;
  static constexpr std::size_t kMaxSentenceField = 32;

  // Reads the local clock for receivedAt; false when the clock cannot be read.
  using Clock = bool (*)(std::time_t* now);
  [[nodiscard]] static bool SystemClock(std::time_t* now);

  explicit ReportParser(Clock clock = &SystemClock);

  // Back to ground; the fields keep their values until the next "$".
  void reset();

  // Decides on one byte. True exactly when it completed a report; the report
  // stays readable through report() until the next "$".
  [[nodiscard]] bool feedByte(std::uint8_t byte);

  struct FeedResult {
    std::size_t consumed;  // bytes taken from the front of the block
    bool completed;        // the last byte taken completed a report
  };
  // Takes bytes from the block up to and including the one that completes a
  // report, and stops there so the caller can read report() before going on
  // with the rest. Same outcome as feedByte on each byte taken.
  [[nodiscard]] FeedResult feed(const std::uint8_t* data, std::size_t size);

  const PendingReport& report() const { return m_pending; }
  ParseState state() const { return m_state; }

 private:
  // Inline: defined and used in report_parser.cpp only.
  inline bool advance(const std::uint8_t*& at, const std::uint8_t* end);
  inline bool field(const std::uint8_t*& at, const std::uint8_t* end, std::uint8_t accepted,
                    std::string* kept, ParseState next, std::size_t degreeDigits = 0);
  inline bool hemisphere(const std::uint8_t*& at, const std::uint8_t* end, char positive,
                         char negative, std::string& coordinate, ParseState next);
  inline bool checksumLine(const std::uint8_t*& at, const std::uint8_t* end);
  void restart();
  void stampReceivedAt();

  Clock m_clock;
  ParseState m_state = ParseState::kGround;
  PendingReport m_pending;
  std::uint8_t m_sentenceXor = 0;    // XOR of the bytes between "$" and "*"
  std::uint8_t m_checksumValue = 0;  // the hex digits after "*" so far
  int m_checksumDigits = 0;          // bytes seen after "*", up to 2 counted
  bool m_checksumValid = true;       // both bytes after "*" were hex digits
  std::time_t m_stampedSecond = -1;  // second that m_stampText was made for
  char m_stampText[18] = {};
};

}  // namespace rigplot
