#include "tools/sim_stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace rigplot {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKmPerDegree = 111.32;  // one degree of latitude
constexpr double kMaxKnots = 150.0;

constexpr const char* kCallsignPrefixes[] = {"JA", "JE", "JF", "JG", "JH", "JI", "JJ",
                                             "JK", "JL", "JM", "JN", "JO", "JP", "JQ",
                                             "JR", "JS", "7K", "7L", "7M", "7N"};

// Up to about 20 characters; a few run past the 18 the receiver keeps, two are
// half-width katakana in code page 932 (the receiver clears their top bit).
constexpr const char* kMessages[] = {
    "",
    "Hello",
    "73",
    "CQ CQ",
    "QRV 145.00",
    "QSY 433.00 FM",
    "Mobile",
    "On the way home",
    "Portable in Chiba",
    "Going to Yokohama",
    "Lunch at Shinjuku",
    "Listening on DR",
    "Fishing at Tokyo Bay",
    "Beware of traffic jam",
    "Testing GPS-A 9600bps",
    "\xBA\xDD\xC6\xC1\xCA",  // konnichiwa
    "\xD3\xB0\xCB\xDE\xD9",  // mobile
};

double Radians(double degrees) {
  return degrees * kPi / 180.0;
}

double WrapCourse(double degrees) {
  degrees = std::fmod(degrees, 360.0);
  return degrees < 0 ? degrees + 360.0 : degrees;
}

// Tenths, as the radio prints speed and course: "012.5", "270.0".
std::string Tenths(long tenths) {
  char text[32];
  std::snprintf(text, sizeof text, "%03ld.%ld", tenths / 10, tenths % 10);
  return text;
}

// An angle as NMEA writes it, ddmm.mmmm or dddmm.mmmm, rounded to 1/10000 of
// a minute; `rounded` receives the value that the text stands for.
std::string NmeaAngle(double degrees, int degreeDigits, double* rounded) {
  const long long total = std::llround(std::fabs(degrees) * 600000.0);
  const long long whole = total / 600000;
  const long long rest = total % 600000;
  char text[24];
  std::snprintf(text, sizeof text, "%0*lld%02lld.%04lld", degreeDigits, whole, rest / 10000,
                rest % 10000);
  *rounded = (degrees < 0 ? -1.0 : 1.0) * static_cast<double>(total) / 600000.0;
  return text;
}

// What the receiver keeps of the message part of a callsign line.
std::string ReceivedMessage(std::string_view sent) {
  std::string kept;
  for (char c : sent) {
    const char low = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
    if (low == 0) continue;
    kept.push_back(low);
    if (kept.size() == 18) break;
  }
  return kept;
}

// The bytes after the symbol: a blank sets the message apart from a two-digit
// symbol, which has already filled both symbol bytes.
std::string MessagePart(std::string_view symbol, std::string_view message) {
  if (symbol.size() == 2 && symbol != "  " && !message.empty()) return " " + std::string(message);
  return std::string(message);
}

}  // namespace

std::string NmeaSentence(std::string_view body) {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X", sum);
  return "$" + std::string(body) + tail;
}

std::string CallsignLine(std::string_view callsign, std::string_view symbol,
                         std::string_view message) {
  std::string line(callsign);
  line += ',';
  line += symbol;
  if (symbol.size() < 2) line += ',';
  line += MessagePart(symbol, message);
  return line;
}

SimStream::SimStream(const SimOptions& options)
    : m_options(options), m_random(options.seed), m_clock(static_cast<double>(options.startTime)) {
  m_options.stations = std::max(1, m_options.stations);
  m_options.noisePercent = std::clamp(m_options.noisePercent, 0, 100);
  m_options.otherSentencePercent = std::clamp(m_options.otherSentencePercent, 0, 100);
  m_options.centreLatitude = std::clamp(m_options.centreLatitude, -85.0, 85.0);

  for (int i = 0; i < 4; ++i) m_repeaters.push_back(NewRepeater());

  std::set<std::string> taken;
  const double cosCentre = std::cos(Radians(m_options.centreLatitude));
  for (int i = 0; i < m_options.stations; ++i) {
    Station s;
    do {
      s.callsign = NewCallsign();
    } while (!taken.insert(s.callsign).second);
    // The first two are one of each kind, so that even a small run shows both.
    s.moving = i == 0 || (i != 1 && Chance(65));
    if (s.moving) {
      s.symbol = std::to_string(Below(5));
      if (s.symbol == "0" && Chance(30)) s.symbol = "  ";
      s.cruiseKnots = Uniform(8.0, 60.0);
      s.speedKnots = std::round(s.cruiseKnots * Uniform(0.5, 1.2) * 10.0) / 10.0;
      s.courseDeg = std::round(Uniform(0.0, 3599.0)) / 10.0;
    } else {
      s.symbol = std::to_string(5 + Below(10));
    }
    const double r = m_options.radiusKm * std::sqrt(Uniform());
    const double bearing = Uniform(0.0, 2.0 * kPi);
    s.latitude = m_options.centreLatitude + r * std::cos(bearing) / kKmPerDegree;
    s.longitude = m_options.centreLongitude + r * std::sin(bearing) / (kKmPerDegree * cosCentre);
    if (Chance(75)) s.repeater = m_repeaters[static_cast<std::size_t>(Below(4))];
    s.message = PickMessage();
    m_stations.push_back(std::move(s));
  }
}

double SimStream::Uniform() {
  return static_cast<double>(m_random() >> 11) * 0x1.0p-53;
}

double SimStream::Uniform(double lo, double hi) {
  return lo + (hi - lo) * Uniform();
}

int SimStream::Below(int n) {
  return static_cast<int>(m_random() % static_cast<std::uint64_t>(n));
}

bool SimStream::Chance(int percent) {
  return Below(100) < percent;
}

std::string SimStream::NewCallsign() {
  std::string call = kCallsignPrefixes[Below(std::size(kCallsignPrefixes))];
  call += static_cast<char>('0' + (Chance(80) ? 1 : Below(10)));
  const int letters = Chance(85) ? 3 : 2;
  for (int i = 0; i < letters; ++i) call += static_cast<char>('A' + Below(26));
  // Some stations add the D-STAR module letter in the eighth place.
  if (Chance(40)) {
    call.resize(7, ' ');
    call += static_cast<char>('A' + Below(5));
  }
  return call;
}

std::string SimStream::NewRepeater() {
  std::string call = Chance(50) ? "JR1" : "JP1";
  const int letters = 2 + Below(2);
  for (int i = 0; i < letters; ++i) call += static_cast<char>('A' + Below(26));
  call.resize(7, ' ');
  call += Chance(50) ? 'A' : 'B';
  return call;
}

std::string SimStream::PickMessage() {
  return kMessages[Below(std::size(kMessages))];
}

int SimStream::NextStation() {
  if (m_round.empty()) {
    for (int i = 0; i < m_options.stations; ++i) m_round.push_back(i);
    for (std::size_t i = m_round.size(); i > 1; --i) {
      std::swap(m_round[i - 1], m_round[static_cast<std::size_t>(Below(static_cast<int>(i)))]);
    }
  }
  const int next = m_round.back();
  m_round.pop_back();
  return next;
}

// Advances the station along what it announced last time, then picks the
// speed and course it announces now.
void SimStream::Move(Station& s, double now) {
  if (!s.moving) {
    s.lastReport = now;
    return;
  }
  if (s.lastReport >= 0) {
    const double hours = std::clamp(now - s.lastReport, 0.0, 3600.0) / 3600.0;
    const double nauticalMiles = s.speedKnots * hours;
    const double course = Radians(s.courseDeg);
    const double eastDegrees =
        nauticalMiles * std::sin(course) / (60.0 * std::cos(Radians(s.latitude)));
    s.latitude = std::clamp(s.latitude + nauticalMiles * std::cos(course) / 60.0, -89.0, 89.0);
    s.longitude += eastDegrees;
    if (s.longitude > 180.0) s.longitude -= 360.0;
    if (s.longitude < -180.0) s.longitude += 360.0;
  }
  s.lastReport = now;

  if (Chance(5)) {
    s.speedKnots = 0.0;  // waiting at a light
  } else if (s.speedKnots == 0.0) {
    s.speedKnots = s.cruiseKnots * Uniform(0.3, 0.8);
  } else {
    s.speedKnots = std::clamp(s.speedKnots + Uniform(-5.0, 5.0), 1.0,
                              std::min(kMaxKnots, s.cruiseKnots * 1.5));
  }
  const double northKm = (s.latitude - m_options.centreLatitude) * kKmPerDegree;
  const double eastKm = (s.longitude - m_options.centreLongitude) * kKmPerDegree *
                        std::cos(Radians(m_options.centreLatitude));
  if (std::hypot(northKm, eastKm) > m_options.radiusKm) {
    const double home = std::atan2(-eastKm, -northKm) * 180.0 / kPi;
    s.courseDeg = home + Uniform(-25.0, 25.0);
  } else {
    s.courseDeg += Uniform(-30.0, 30.0);
  }
  // Announced values are what the next move uses, so keep them as sent.
  s.speedKnots = std::round(s.speedKnots * 10.0) / 10.0;
  s.courseDeg = static_cast<double>(std::lround(WrapCourse(s.courseDeg) * 10.0) % 3600) / 10.0;
}

std::string SimStream::OtherSentence(const Station& s, std::time_t now) {
  std::tm utc{};
  gmtime_r(&now, &utc);
  char hhmmss[48];
  std::snprintf(hhmmss, sizeof hhmmss, "%02d%02d%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
  double unused = 0;
  // The listening radio's own GPS: it stands at the centre.
  const std::string lat = NmeaAngle(m_options.centreLatitude, 2, &unused);
  const std::string lon = NmeaAngle(m_options.centreLongitude, 3, &unused);
  const char* ns = m_options.centreLatitude < 0 ? "S" : "N";
  const char* ew = m_options.centreLongitude < 0 ? "W" : "E";
  char body[128];
  switch (Below(4)) {
    case 0:
      std::snprintf(body, sizeof body, "GPGGA,%s,%s,%s,%s,%s,1,%02d,0.9,%03d.%d,M,39.4,M,,", hhmmss,
                    lat.c_str(), ns, lon.c_str(), ew, 4 + Below(9), 10 + Below(90), Below(10));
      break;
    case 1:
      std::snprintf(body, sizeof body, "GPGSA,A,3,%02d,%02d,,%02d,%02d,,,%02d,,,,,2.5,1.3,2.1",
                    1 + Below(8), 9 + Below(8), 17 + Below(8), 25 + Below(8), 33 + Below(8));
      break;
    case 2:
      std::snprintf(body, sizeof body, "GPGSV,3,1,11,%02d,%02d,%03d,%02d,%02d,%02d,%03d,%02d",
                    1 + Below(16), Below(90), Below(360), 20 + Below(30), 17 + Below(16), Below(90),
                    Below(360), 20 + Below(30));
      break;
    default:
      std::snprintf(body, sizeof body, "GPVTG,%s,T,,M,%s,N,000.0,K,A",
                    Tenths(std::lround(s.courseDeg * 10.0)).c_str(), "000.0");
      break;
  }
  return NmeaSentence(body);
}

std::string SimStream::JunkBytes() {
  std::string junk;
  const int n = 4 + Below(37);
  while (static_cast<int>(junk.size()) < n) {
    const int b = Below(256);
    // No "$": it could start a sentence; no XON/XOFF: a receiver's line
    // discipline would swallow them.
    if (b == '$' || b == 0x11 || b == 0x13) continue;
    junk.push_back(static_cast<char>(b));
  }
  return junk + "\r\n";
}

SimReport SimStream::AppendNext(std::string& out) {
  const double now = m_clock;
  m_clock += 1 + Below(4);  // whole seconds, as the sentence carries them
  return AppendNextAt(out, now);
}

SimReport SimStream::AppendNextAt(std::string& out, double utcSeconds) {
  const int index = NextStation();
  Station& s = m_stations[static_cast<std::size_t>(index)];
  Move(s, utcSeconds);
  if (Chance(5)) s.message = PickMessage();

  Spoil spoil = Spoil::kNone;
  bool junk = false;
  if (Chance(m_options.noisePercent)) {
    switch (Below(7)) {
      case 0:
      case 1:
        junk = true;
        break;
      case 2:
        spoil = Spoil::kBadChecksum;
        break;
      case 3:
        spoil = Spoil::kGarbledByte;
        break;
      case 4:
        spoil = Spoil::kTruncated;
        break;
      case 5:
        spoil = Spoil::kLostCallsignLine;
        break;
      default:
        spoil = Spoil::kVoidFix;
        break;
    }
  }

  // When the last report was left open, what comes next must begin with "$",
  // or its bytes would land in that report's callsign line.
  const bool other = Chance(m_options.otherSentencePercent) ||
                     (m_sentenceOpen && (junk || spoil == Spoil::kGarbledByte));
  const auto stamp = static_cast<std::time_t>(std::floor(utcSeconds));
  if (other) out += OtherSentence(s, stamp) + "\r\n";
  if (junk) out += JunkBytes();

  SimReport r;
  r.intact = spoil == Spoil::kNone;
  r.station = index;
  r.utcSeconds = utcSeconds;
  std::tm utc{};
  gmtime_r(&stamp, &utc);
  char text[48];
  std::snprintf(text, sizeof text, "%02d%02d%02d", utc.tm_hour, utc.tm_min, utc.tm_sec);
  r.utcTime = text;
  std::snprintf(text, sizeof text, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
  r.utcDate = text;
  const std::string lat = NmeaAngle(s.latitude, 2, &r.latitudeDeg);
  const std::string lon = NmeaAngle(s.longitude, 3, &r.longitudeDeg);
  r.latitude = (r.latitudeDeg < 0 ? "-" : "") + lat.substr(0, 2) + "/" + lat.substr(2);
  r.longitude = (r.longitudeDeg < 0 ? "-" : "") + lon.substr(0, 3) + "/" + lon.substr(3);
  r.speedKnots = s.speedKnots;
  r.courseDeg = s.courseDeg;
  r.speedText = Tenths(std::lround(s.speedKnots * 10.0));
  r.courseText = Tenths(std::lround(s.courseDeg * 10.0));
  r.callsign = s.callsign;
  r.repeater = s.repeater;
  r.symbol = s.symbol == "  " ? "0" : s.symbol;
  r.message = ReceivedMessage(MessagePart(s.symbol, s.message));

  std::string sentence =
      NmeaSentence("GPRMC," + r.utcTime + (spoil == Spoil::kVoidFix ? ",V," : ",A,") + lat + "," +
                   (r.latitudeDeg < 0 ? "S" : "N") + "," + lon + "," +
                   (r.longitudeDeg < 0 ? "W" : "E") + "," + r.speedText + "," + r.courseText + "," +
                   r.utcDate + ",,," + (spoil == Spoil::kVoidFix ? "N" : "A"));
  const std::size_t star = sentence.find('*');
  switch (spoil) {
    case Spoil::kBadChecksum: {
      char& digit = sentence.back();
      digit = digit == 'F' ? '0' : (digit == '9' ? 'A' : static_cast<char>(digit + 1));
      break;
    }
    case Spoil::kGarbledByte: {
      const auto at = static_cast<std::size_t>(Below(static_cast<int>(sentence.size())));
      char replacement;
      do {
        replacement = static_cast<char>(Below(256));
      } while (replacement == sentence[at] || replacement == 0x11 || replacement == 0x13);
      sentence[at] = replacement;
      break;
    }
    case Spoil::kTruncated:
      // The line drops out before the "*"; the CR LF that follows ends it.
      sentence.resize(1 + static_cast<std::size_t>(Below(static_cast<int>(star) - 1)));
      break;
    default:
      break;
  }

  out += sentence;
  out += "\r\n";
  if (!s.repeater.empty()) {
    if (Chance(5)) out += m_repeaters[static_cast<std::size_t>(Below(4))] + "\r\n";
    out += s.repeater + "\r\n";
  }
  if (spoil != Spoil::kLostCallsignLine)
    out += CallsignLine(s.callsign, s.symbol, s.message) + "\r\n";
  m_sentenceOpen = spoil == Spoil::kLostCallsignLine;
  ++m_reportsMade;
  return r;
}

}  // namespace rigplot
