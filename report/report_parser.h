// The report parser: turns the radio's serial text into position reports,
// one byte at a time, with no line buffer.
//
// A report is a $GPRMC sentence followed by a callsign line:
//   $GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A*77\r\n
//   NOCALL,  Hello\r\n
// Plain lines between the two are tolerated; the last one becomes the repeater.
//
// Owns: the state number and the fields of the report in progress.
// Invariants: callsign and repeater hold at most 8 bytes, symbol at most 2,
// message at most 18 seven-bit bytes, each sentence field at most 32 bytes.
// Thread: only the receive worker calls feedByte; reset runs before it starts.
#pragma once

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
};

class ReportParser {
 public:
  static constexpr std::size_t kMaxCallsign = 8;
  static constexpr std::size_t kMaxSymbol = 2;
  static constexpr std::size_t kMaxMessage = 18;
  static constexpr std::size_t kMaxSentenceField = 32;

  // Reads the local clock for receivedAt; false when the clock cannot be read.
  using Clock = bool (*)(std::time_t* now);
  static bool SystemClock(std::time_t* now);

  explicit ReportParser(Clock clock = &SystemClock);

  // Back to idle; the fields keep their values until the next "$".
  void reset();

  // Decides on one byte. True exactly when it completed a report; the report
  // stays readable through report() until the next "$".
  bool feedByte(std::uint8_t byte);

  const PendingReport& report() const { return m_pending; }
  int state() const { return m_parseState; }

 private:
  void restart();
  void stampReceivedAt();
  bool checksumMatches() const;
  static void appendCapped(std::string& field, std::uint8_t byte);
  bool sentenceField(std::uint8_t byte, int next, bool accepted, std::string* field);
  bool coordinateField(std::uint8_t byte, int next, std::string& field, int& count,
                       int degreeDigits);
  bool hemisphereField(std::uint8_t byte, int next, char positive, char negative,
                       std::string& field);

  Clock m_clock;
  int m_parseState = 0;  // 0 to 23; 23 lives only inside feedByte
  PendingReport m_pending;
  int m_latitudeCount = 0;           // bytes appended to latitude, "/" included
  int m_longitudeCount = 0;          // bytes appended to longitude, "/" included
  std::uint8_t m_sentenceXor = 0;    // XOR of the bytes between "$" and "*"
  std::uint8_t m_checksumValue = 0;  // the hex digits after "*" so far
  int m_checksumDigits = 0;          // bytes seen after "*", up to 2 counted
  bool m_checksumValid = true;       // both bytes after "*" were hex digits
  std::time_t m_stampedSecond = -1;  // second that m_stampText was made for
  char m_stampText[18] = {};
};

}  // namespace rigplot
