#include "report/report_parser.h"

#include <cstdio>
#include <cstring>

#include "report/local_time.h"

namespace rigplot {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;

bool IsDigit(std::uint8_t b) {
  return b >= '0' && b <= '9';
}
bool IsNumberByte(std::uint8_t b) {
  return IsDigit(b) || b == '.';
}

int HexValue(std::uint8_t b) {
  if (IsDigit(b)) return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

}  // namespace

bool ReportParser::SystemClock(std::time_t* now) {
  *now = std::time(nullptr);
  return *now != static_cast<std::time_t>(-1);
}

ReportParser::ReportParser(Clock clock) : m_clock(clock) {}

void ReportParser::reset() {
  m_parseState = 0;
}

void ReportParser::appendCapped(std::string& field, std::uint8_t byte) {
  if (field.size() < kMaxSentenceField) field.push_back(static_cast<char>(byte));
}

void ReportParser::stampReceivedAt() {
  std::time_t now = 0;
  if (!m_clock(&now)) {
    std::memcpy(m_pending.receivedAt, "00/00/00 00:00:00", 18);
    m_pending.receivedTime = -1;
    m_stampedSecond = -1;
    return;
  }
  // Reports arrive many to the second at full line speed; format once per second.
  if (now != m_stampedSecond) {
    std::tm local{};
    if (!ToLocalTime(now, local)) {
      std::memcpy(m_pending.receivedAt, "00/00/00 00:00:00", 18);
      m_pending.receivedTime = -1;
      m_stampedSecond = -1;
      return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%2.2d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d", local.tm_year - 100,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::memset(m_stampText, 0, sizeof m_stampText);
    std::memcpy(m_stampText, text, 17);  // cut to 17 characters, zero padded
    m_stampedSecond = now;
  }
  std::memcpy(m_pending.receivedAt, m_stampText, sizeof m_stampText);
  m_pending.receivedTime = now;
}

void ReportParser::restart() {
  m_parseState = 1;
  m_latitudeCount = 0;
  m_longitudeCount = 0;
  m_pending.utcTime.clear();
  m_pending.latitude.clear();
  m_pending.longitude.clear();
  m_pending.speedKnots.clear();
  m_pending.course.clear();
  m_pending.utcDate.clear();
  m_pending.callsign.clear();
  m_pending.repeater.clear();
  m_pending.symbol.clear();
  m_pending.message.clear();
  m_sentenceXor = 0;
  m_checksumValue = 0;
  m_checksumDigits = 0;
  m_checksumValid = true;
  stampReceivedAt();
}

bool ReportParser::checksumMatches() const {
  return m_checksumDigits >= 2 && m_checksumValid && m_checksumValue == m_sentenceXor;
}

// One byte of a sentence field: "," moves on, an accepted byte stays (and is
// kept when the field is stored), anything else resets. Always false.
bool ReportParser::sentenceField(std::uint8_t byte, int next, bool accepted, std::string* field) {
  if (byte == ',') {
    m_parseState = next;
  } else if (!accepted) {
    m_parseState = 0;
  } else if (field != nullptr) {
    appendCapped(*field, byte);
  }
  return false;
}

// Latitude or longitude: like any number field, with "/" put in once the
// degree digits are in.
bool ReportParser::coordinateField(std::uint8_t byte, int next, std::string& field, int& count,
                                   int degreeDigits) {
  if (byte == ',' || !IsNumberByte(byte)) return sentenceField(byte, next, false, nullptr);
  if (field.size() < kMaxSentenceField) {
    field.push_back(static_cast<char>(byte));
    if (++count == degreeDigits) {
      field.push_back('/');
      ++count;
    }
  }
  return false;
}

// The hemisphere letter after a coordinate: the negative one puts "-" in front.
bool ReportParser::hemisphereField(std::uint8_t byte, int next, char positive, char negative,
                                   std::string& field) {
  if (byte == negative && field.size() < kMaxSentenceField) field.insert(0, 1, '-');
  return sentenceField(byte, next, byte == positive || byte == negative, nullptr);
}

bool ReportParser::feedByte(std::uint8_t byte) {
  // Bytes of the sentence between "$" and "*" make up its checksum; a byte
  // that resets makes the sum moot, so it can be taken in unconditionally.
  if (m_parseState >= 1 && m_parseState <= 18 && byte != '*') m_sentenceXor ^= byte;

  switch (m_parseState) {
    case 0:  // idle, waiting for "$"
      if (byte == '$') restart();
      return false;

    case 1:  // after "$"
    case 2:  // after "$G"
    case 3:  // after "$GP"
    case 4:  // after "$GPR"
    case 5:  // after "$GPRM"
    case 6:  // after "$GPRMC"
    {
      static constexpr char kHeader[] = "GPRMC,";
      if (byte == '$') {
        restart();
      } else if (byte == static_cast<std::uint8_t>(kHeader[m_parseState - 1])) {
        ++m_parseState;
      } else {
        m_parseState = 0;
      }
      return false;
    }

    case 7:  // UTC time: digits only
      return sentenceField(byte, 8, IsDigit(byte), &m_pending.utcTime);
    case 8:  // status: empty or "A"
      return sentenceField(byte, 9, byte == 'A', nullptr);
    case 9:  // latitude; "/" goes in after the two degree digits
      return coordinateField(byte, 10, m_pending.latitude, m_latitudeCount, 2);
    case 10:  // north or south
      return hemisphereField(byte, 11, 'N', 'S', m_pending.latitude);
    case 11:  // longitude; "/" goes in after the three degree digits
      return coordinateField(byte, 12, m_pending.longitude, m_longitudeCount, 3);
    case 12:  // east or west
      return hemisphereField(byte, 13, 'E', 'W', m_pending.longitude);
    case 13:  // speed over ground, knots
      return sentenceField(byte, 14, IsNumberByte(byte), &m_pending.speedKnots);
    case 14:  // course over ground, degrees
      return sentenceField(byte, 15, IsNumberByte(byte), &m_pending.course);
    case 15:  // date: digits only
      return sentenceField(byte, 16, IsDigit(byte), &m_pending.utcDate);
    case 16:  // magnetic variation, not kept
      return sentenceField(byte, 17, IsNumberByte(byte), nullptr);
    case 17:  // variation direction, not kept
      return sentenceField(byte, 18, byte == 'E' || byte == 'W', nullptr);

    case 18:  // mode indicator: empty or "A"; a "," resets like any other byte
      if (byte == '*') {
        m_parseState = 19;
      } else if (byte != 'A') {
        m_parseState = 0;
      }
      return false;

    case 19:  // checksum up to CR; nothing resets before the CR
      if (byte == kCr) {
        m_parseState = checksumMatches() ? 20 : 0;
      } else if (m_checksumDigits < 2) {
        const int value = HexValue(byte);
        if (value < 0) m_checksumValid = false;
        m_checksumValue = static_cast<std::uint8_t>((m_checksumValue << 4) | (value & 0x0F));
        ++m_checksumDigits;
      }
      return false;

    case 20:  // callsign line; earlier plain lines become the repeater
      if (byte == kLf) {
        // ignored
      } else if (byte == kCr) {
        m_pending.repeater = m_pending.callsign;
        m_pending.callsign.clear();
      } else if (byte == '$') {
        restart();
      } else if (byte == ',' || byte == '>') {
        m_parseState = 21;
      } else if (byte != 0 && m_pending.callsign.size() < kMaxCallsign) {
        m_pending.callsign.push_back(static_cast<char>(byte));
      }
      return false;

    case 21:  // symbol: two bytes, or fewer ended by ","
      if (byte == '$') {
        restart();
      } else if (byte == ',') {
        m_parseState = 22;
      } else if (byte != 0) {
        m_pending.symbol.push_back(static_cast<char>(byte));
        if (m_pending.symbol.size() >= kMaxSymbol) m_parseState = 22;
      }
      return false;

    case 22:  // message: up to 18 seven-bit bytes
      if (byte == '$' || byte == kCr || byte == kLf) {
        m_parseState = 23;
      } else if ((byte & 0x7F) != 0) {
        m_pending.message.push_back(static_cast<char>(byte & 0x7F));
        if (m_pending.message.size() >= kMaxMessage) m_parseState = 23;
      }
      break;

    default:  // unreachable: 23 never outlives feedByte
      m_parseState = 0;
      return false;
  }

  if (m_parseState != 23) return false;
  // 23: report complete
  m_parseState = 0;
  if (m_pending.symbol == "  ") m_pending.symbol = "0";
  return true;
}

}  // namespace rigplot
