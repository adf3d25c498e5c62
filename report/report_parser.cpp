#include "report/report_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "report/local_time.h"

// The pieces of the transition go inline into it: most fields are a few bytes
// long, and a call for each costs more than the field.
#define RIGPLOT_INLINE [[gnu::always_inline]] inline

namespace rigplot {
namespace {

constexpr std::uint8_t kCr = 13;
constexpr std::uint8_t kLf = 10;

// Byte classes, so that a run of bytes is scanned with one load and one test each.
constexpr std::uint8_t kDigit = 1;           // 0-9
constexpr std::uint8_t kNumber = 2;          // 0-9 and "."
constexpr std::uint8_t kLetterA = 4;         // "A"
constexpr std::uint8_t kEastOrWest = 8;      // "E" and "W"
constexpr std::uint8_t kCallsignStop = 16;   // bytes that end or leave the callsign line
constexpr std::uint8_t kCallsignSkip = 32;   // bytes the callsign line passes over
constexpr std::uint8_t kMessageStop = 64;    // bytes that end the message
constexpr std::uint8_t kMessagePlain = 128;  // message bytes kept as they are

constexpr std::array<std::uint8_t, 256> kClass = [] {
  std::array<std::uint8_t, 256> c{};
  for (int b = '0'; b <= '9'; ++b) c[b] |= kDigit | kNumber;
  c['.'] |= kNumber;
  c['A'] |= kLetterA;
  c['E'] |= kEastOrWest;
  c['W'] |= kEastOrWest;
  for (int b : {int{kCr}, int{'$'}, int{','}, int{'>'}}) c[b] |= kCallsignStop;
  for (int b : {int{kLf}, 0}) c[b] |= kCallsignSkip;
  for (int b : {int{kCr}, int{kLf}, int{'$'}}) c[b] |= kMessageStop;
  for (int b = 1; b < 0x80; ++b) c[b] |= (c[b] & kMessageStop) != 0 ? 0 : kMessagePlain;
  return c;
}();

// The sentence taken: its name and the comma after it, and their XOR.
constexpr char kName[] = "GPRMC,";
constexpr std::uint8_t kNameSum = [] {
  std::uint8_t sum = 0;
  for (const char* c = kName; *c != 0; ++c) sum ^= static_cast<std::uint8_t>(*c);
  return sum;
}();

int HexValue(std::uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -1;
}

// The first `wanted` byte in [at, end), or end. Lines are short and the byte
// is often near, so a few bytes are looked at before memchr takes over.
RIGPLOT_INLINE const std::uint8_t* Find(const std::uint8_t* at, const std::uint8_t* end,
                                        std::uint8_t wanted) {
  for (const std::uint8_t* near = end - at > 8 ? at + 8 : end; at != near; ++at) {
    if (*at == wanted) return at;
  }
  if (at == end) return end;
  const void* found = std::memchr(at, wanted, static_cast<std::size_t>(end - at));
  return found != nullptr ? static_cast<const std::uint8_t*>(found) : end;
}

ParseState Next(ParseState s) {
  return static_cast<ParseState>(static_cast<int>(s) + 1);
}

RIGPLOT_INLINE void Append(std::string& field, const std::uint8_t* bytes, std::size_t count) {
  if (count == 1) {
    field.push_back(static_cast<char>(*bytes));  // inline, unlike append's copy
  } else if (count > 1) {
    field.append(reinterpret_cast<const char*>(bytes), count);
  }
}

// Appends what fits under `cap`.
RIGPLOT_INLINE void AppendCapped(std::string& field, const std::uint8_t* bytes, std::size_t count,
                                 std::size_t cap) {
  if (field.size() < cap) Append(field, bytes, std::min(count, cap - field.size()));
}

// Sentence field bytes; a latitude or longitude gets its "/" once the degree
// digits are in.
RIGPLOT_INLINE void AppendField(std::string& field, const std::uint8_t* bytes, std::size_t count,
                                std::size_t degreeDigits) {
  for (; count > 0 && field.size() < degreeDigits; --count) {
    field.push_back(static_cast<char>(*bytes++));
    if (field.size() == degreeDigits) field.push_back('/');
  }
  AppendCapped(field, bytes, count, ReportParser::kMaxSentenceField);
}

}  // namespace

bool ReportParser::SystemClock(std::time_t* now) {
  *now = std::time(nullptr);
  return *now != static_cast<std::time_t>(-1);
}

ReportParser::ReportParser(Clock clock) : m_clock(clock) {}

void ReportParser::reset() {
  m_state = ParseState::kGround;
}

void ReportParser::stampReceivedAt() {
  std::time_t now = 0;
  std::tm local{};
  // Reports arrive many to the second at full line speed; format once per second.
  const bool known = m_clock(&now) && (now == m_stampedSecond || ToLocalTime(now, local));
  if (!known) {
    std::memcpy(m_pending.receivedAt, "00/00/00 00:00:00", 18);
    m_pending.receivedTime = -1;
    m_stampedSecond = -1;
    return;
  }
  if (now != m_stampedSecond) {
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
  m_state = ParseState::kDollar;
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

// A sentence field: the run of bytes it accepts goes into the checksum and,
// when the field is kept, into `kept`; a "," moves on to `next` and anything
// else resets. True when it moved on; false when the bytes ran out first
// (the state stays) or a byte reset the parser.
RIGPLOT_INLINE bool ReportParser::field(const std::uint8_t*& at, const std::uint8_t* end,
                                        std::uint8_t accepted, std::string* kept, ParseState next,
                                        std::size_t degreeDigits) {
  const std::uint8_t* const start = at;
  std::uint8_t sum = m_sentenceXor;
  for (; at != end && (kClass[*at] & accepted) != 0; ++at) sum ^= *at;
  if (kept != nullptr)
    AppendField(*kept, start, static_cast<std::size_t>(at - start), degreeDigits);
  m_sentenceXor = sum;
  if (at == end) return false;
  if (*at++ != ',') {
    m_state = ParseState::kGround;
    return false;
  }
  m_sentenceXor ^= ',';
  m_state = next;
  return true;
}

// The hemisphere letter after a coordinate: the negative one puts "-" in front.
RIGPLOT_INLINE bool ReportParser::hemisphere(const std::uint8_t*& at, const std::uint8_t* end,
                                             char positive, char negative, std::string& coordinate,
                                             ParseState next) {
  while (at != end) {
    const std::uint8_t byte = *at++;
    if (byte == ',') {
      m_sentenceXor ^= byte;
      m_state = next;
      return true;
    }
    if (byte != positive && byte != negative) {
      m_state = ParseState::kGround;
      return false;
    }
    m_sentenceXor ^= byte;
    if (byte == negative && coordinate.size() < kMaxSentenceField) coordinate.insert(0, 1, '-');
  }
  return false;
}

// After "*": the first two bytes are the checksum digits, the rest up to the
// CR is passed over. True once the CR is taken.
RIGPLOT_INLINE bool ReportParser::checksumLine(const std::uint8_t*& at, const std::uint8_t* end) {
  for (; m_checksumDigits < 2; ++m_checksumDigits) {
    if (at == end) return false;
    const std::uint8_t byte = *at++;
    if (byte == kCr) return true;
    const int value = HexValue(byte);
    if (value < 0) m_checksumValid = false;
    m_checksumValue = static_cast<std::uint8_t>((m_checksumValue << 4) | (value & 0x0F));
  }
  at = Find(at, end, kCr);
  if (at == end) return false;
  ++at;
  return true;
}

// The transition: takes bytes from `at` and moves on from state to state
// until the bytes run out, a report completes (true), or a byte sends the
// parser back to the ground or to a fresh "$". A state whose bytes are all
// in falls through to the next one.
RIGPLOT_INLINE bool ReportParser::advance(const std::uint8_t*& at, const std::uint8_t* end) {
  using enum ParseState;
  switch (m_state) {
    case kComplete:  // never held past a byte; taken as the ground
      m_state = kGround;
      [[fallthrough]];
    case kGround: {
      at = Find(at, end, '$');
      if (at == end) return false;
      ++at;
      restart();
    }
      [[fallthrough]];
    case kDollar:
    case kG:
    case kGP:
    case kGPR:
    case kGPRM:
    case kGPRMC:
      // The sentence name, which goes into the checksum like the fields; a
      // whole one in the block is taken in one step.
      if (m_state == kDollar && end - at >= 6 && std::memcmp(at, kName, 6) == 0) {
        m_sentenceXor ^= kNameSum;
        at += 6;
        m_state = kTime;
      }
      while (m_state != kTime) {
        if (at == end) return false;
        const std::uint8_t byte = *at++;
        if (byte == '$') {
          restart();
        } else if (byte == static_cast<std::uint8_t>(kName[static_cast<int>(m_state) - 1])) {
          m_sentenceXor ^= byte;
          m_state = Next(m_state);
        } else {
          m_state = kGround;
          return false;
        }
      }
      [[fallthrough]];
    case kTime:
      if (!field(at, end, kDigit, &m_pending.utcTime, kStatus)) return false;
      [[fallthrough]];
    case kStatus:
      if (!field(at, end, kLetterA, nullptr, kLatitude)) return false;
      [[fallthrough]];
    case kLatitude:
      if (!field(at, end, kNumber, &m_pending.latitude, kNorthSouth, 2)) return false;
      [[fallthrough]];
    case kNorthSouth:
      if (!hemisphere(at, end, 'N', 'S', m_pending.latitude, kLongitude)) return false;
      [[fallthrough]];
    case kLongitude:
      if (!field(at, end, kNumber, &m_pending.longitude, kEastWest, 3)) return false;
      [[fallthrough]];
    case kEastWest:
      if (!hemisphere(at, end, 'E', 'W', m_pending.longitude, kSpeed)) return false;
      [[fallthrough]];
    case kSpeed:
      if (!field(at, end, kNumber, &m_pending.speedKnots, kCourse)) return false;
      [[fallthrough]];
    case kCourse:
      if (!field(at, end, kNumber, &m_pending.course, kDate)) return false;
      [[fallthrough]];
    case kDate:
      if (!field(at, end, kDigit, &m_pending.utcDate, kVariation)) return false;
      [[fallthrough]];
    case kVariation:
      if (!field(at, end, kNumber, nullptr, kVariationDirection)) return false;
      [[fallthrough]];
    case kVariationDirection:
      if (!field(at, end, kEastOrWest, nullptr, kMode)) return false;
      [[fallthrough]];
    case kMode:
      // "A" as often as it comes, then "*", which the checksum leaves out; a
      // "," resets like any other byte.
      for (;;) {
        if (at == end) return false;
        const std::uint8_t byte = *at++;
        if (byte == '*') break;
        if (byte != 'A') {
          m_state = kGround;
          return false;
        }
        m_sentenceXor ^= byte;
      }
      m_state = kChecksum;
      [[fallthrough]];
    case kChecksum:
      if (!checksumLine(at, end)) return false;
      if (m_checksumDigits < 2 || !m_checksumValid || m_checksumValue != m_sentenceXor) {
        m_state = kGround;
        return false;
      }
      m_state = kCallsign;
      [[fallthrough]];
    case kCallsign:
      // LF and zero bytes are passed over; each CR turns the line so far into
      // the repeater and starts over.
      for (std::string& callsign = m_pending.callsign;;) {
        const std::uint8_t* const start = at;
        while (at != end && (kClass[*at] & (kCallsignStop | kCallsignSkip)) == 0) ++at;
        AppendCapped(callsign, start, static_cast<std::size_t>(at - start), kMaxCallsign);
        if (at == end) return false;
        const std::uint8_t byte = *at++;
        if ((kClass[byte] & kCallsignSkip) != 0) continue;
        if (byte == ',' || byte == '>') break;
        if (byte == '$') {
          restart();
          return false;
        }
        m_pending.repeater = callsign;
        callsign.clear();
      }
      m_state = kSymbol;
      [[fallthrough]];
    case kSymbol:
      // Two bytes, or fewer ended by ","; a CR or LF is a symbol byte here.
      while (m_state == kSymbol) {
        if (at == end) return false;
        const std::uint8_t byte = *at++;
        if (byte == '$') {
          restart();
          return false;
        }
        if (byte == ',') {
          m_state = kMessage;
        } else if (byte != 0) {
          m_pending.symbol.push_back(static_cast<char>(byte));
          if (m_pending.symbol.size() >= kMaxSymbol) m_state = kMessage;
        }
      }
      [[fallthrough]];
    case kMessage:
      // Seven-bit bytes up to a line end, a "$" or the eighteenth byte.
      for (std::string& message = m_pending.message;;) {
        // Plain bytes go in as a run, stopping short of the one that fills it.
        const std::uint8_t* const start = at;
        const std::uint8_t* const stop =
            at + std::min(static_cast<std::size_t>(end - at), kMaxMessage - 1 - message.size());
        while (at != stop && (kClass[*at] & kMessagePlain) != 0) ++at;
        Append(message, start, static_cast<std::size_t>(at - start));
        if (at == end) return false;
        const std::uint8_t byte = *at++;
        if ((kClass[byte] & kMessageStop) != 0) break;
        if ((byte & 0x7F) == 0) continue;
        message.push_back(static_cast<char>(byte & 0x7F));
        if (message.size() >= kMaxMessage) break;
      }
      m_state = kGround;
      if (m_pending.symbol.size() == 2 && m_pending.symbol[0] == ' ' &&
          m_pending.symbol[1] == ' ') {
        m_pending.symbol = "0";
      }
      return true;
  }
  return false;
}

ReportParser::FeedResult ReportParser::feed(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* at = data;
  const std::uint8_t* const end = data + size;
  while (at != end) {
    if (advance(at, end)) return {static_cast<std::size_t>(at - data), true};
  }
  return {size, false};
}

bool ReportParser::feedByte(std::uint8_t byte) {
  const std::uint8_t* at = &byte;
  return advance(at, at + 1);  // every state takes at least one byte
}

}  // namespace rigplot
