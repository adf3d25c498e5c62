#include "stations/radio_text.h"

#include <array>
#include <vector>

namespace rigplot {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}
bool IsKanaByte(unsigned char b) {
  return b >= 0xA1 && b <= 0xDF;
}

constexpr int kLeads = 31 + 29;           // 0x81-0x9F, 0xE0-0xFC
constexpr int kTrails = 0xFC - 0x40 + 1;  // 0x40-0xFC, 0x7F unused

int LeadIndex(unsigned char b) {
  return b <= 0x9F ? b - 0x81 : b - 0xE0 + 31;
}

// The converter's reading of every character, 0 where there is none.
struct Cp932Table {
  std::array<char16_t, 0xDF - 0xA1 + 1> kana{};
  std::array<std::array<char16_t, kTrails>, kLeads> pairs{};
};

const Cp932Table& Table() {
  static const Cp932Table table = [] {
    std::vector<std::uint16_t> codes;
    for (int b = 0xA1; b <= 0xDF; ++b) codes.push_back(static_cast<std::uint16_t>(b));
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsLeadByte(static_cast<unsigned char>(lead))) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        codes.push_back(static_cast<std::uint16_t>(lead << 8 | trail));
      }
    }
    std::vector<char16_t> units(codes.size());
    SystemCp932Characters(codes.data(), codes.size(), units.data());
    Cp932Table made;
    std::size_t i = 0;
    // A reading outside what a character of this page can be is no reading:
    // an ASCII or C1 unit, a surrogate, a noncharacter.
    auto usable = [](char16_t u) {
      return u >= 0xA0 && !(u >= 0xD800 && u <= 0xDFFF) && u != 0xFFFE && u != 0xFFFF ? u : 0;
    };
    for (char16_t& unit : made.kana) unit = usable(units[i++]);
    for (auto& row : made.pairs) {
      for (char16_t& unit : row) unit = usable(units[i++]);
    }
    return made;
  }();
  return table;
}

void AppendUnit(std::string& out, char16_t unit) {
  if (unit < 0x800) {
    out += static_cast<char>(0xC0 | unit >> 6);
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | unit >> 12);
    out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

// Walks the text: runs of bytes that `plain` passes are copied as they are,
// `ascii(out, byte)` takes any other byte below 0x80, and every other
// character goes out as UTF-8.
template <typename Plain, typename Ascii>
void Walk(std::string& out, std::string_view text, Plain plain, Ascii ascii) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t run = i;
    while (i < n && plain(static_cast<unsigned char>(text[i]))) ++i;
    out.append(text.data() + run, i - run);
    if (i == n) break;
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ascii(out, b);
    } else if (IsKanaByte(b)) {
      const char16_t unit = Table().kana[b - 0xA1];
      AppendUnit(out, unit != 0 ? unit : kReplacement);
    } else if (IsLeadByte(b) && i + 1 < n && IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
      const auto trail = static_cast<unsigned char>(text[i + 1]);
      const char16_t unit = Table().pairs[LeadIndex(b)][trail - 0x40];
      AppendUnit(out, unit != 0 ? unit : kReplacement);
      // An unread pair gives up its trail byte when that is ASCII.
      if (unit != 0 || trail >= 0x80) ++i;
    } else {
      AppendUnit(out, kReplacement);
    }
    ++i;
  }
}

// Printable ASCII but for the bytes a format must escape.
bool Printable(unsigned char b) {
  return b >= 0x20 && b < 0x7F;
}

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

void AppendUtf8(std::string& out, std::string_view cp932) {
  Walk(
      out, cp932, [](unsigned char b) { return b < 0x80; },
      [](std::string& o, unsigned char b) { o += static_cast<char>(b); });
}

void AppendJsonString(std::string& out, std::string_view cp932) {
  out += '"';
  auto plain = [](unsigned char b) {
    return Printable(b) && b != '"' && b != '\\' && b != '<' && b != '>' && b != '&';
  };
  Walk(out, cp932, plain, [](std::string& o, unsigned char b) {
    switch (b) {
      case '"':
        o += "\\\"";
        return;
      case '\\':
        o += "\\\\";
        return;
      case '\n':
        o += "\\n";
        return;
      case '\r':
        o += "\\r";
        return;
      case '\t':
        o += "\\t";
        return;
      default:
        break;
    }
    if (b < 0x20 || b == 0x7F || b == '<' || b == '>' || b == '&') {
      o += "\\u00";
      o += kHex[b >> 4];
      o += kHex[b & 0xF];
    } else {
      o += static_cast<char>(b);
    }
  });
  out += '"';
}

void AppendXmlText(std::string& out, std::string_view cp932) {
  auto plain = [](unsigned char b) {
    return Printable(b) && b != '&' && b != '<' && b != '>' && b != '"' && b != '\'';
  };
  Walk(out, cp932, plain, [](std::string& o, unsigned char b) {
    switch (b) {
      case '&':
        o += "&amp;";
        return;
      case '<':
        o += "&lt;";
        return;
      case '>':
        o += "&gt;";
        return;
      case '"':
        o += "&quot;";
        return;
      case '\'':
        o += "&#39;";
        return;
      // Parsers fold literal line ends and, in attributes, tabs: references keep them.
      case '\t':
        o += "&#9;";
        return;
      case '\n':
        o += "&#10;";
        return;
      case '\r':
        o += "&#13;";
        return;
      default:
        o += b < 0x20 ? ' ' : static_cast<char>(b);
    }
  });
}

void AppendCsvField(std::string& out, std::string_view cp932) {
  // Spreadsheets run a field that starts like a formula; an apostrophe in
  // front keeps it text.
  const bool formula =
      !cp932.empty() && std::string_view("=+-@\t\r").find(cp932.front()) != std::string_view::npos;
  bool quote = false;
  for (char c : cp932) quote = quote || c == '"' || c == ',';
  if (quote) out += '"';
  if (formula) out += '\'';
  // Control bytes become blanks, so that a terminal showing the log runs no
  // escape sent over the air.
  Walk(
      out, cp932, [](unsigned char b) { return Printable(b) && b != '"'; },
      [](std::string& o, unsigned char b) { o += b == '"' ? "\"\"" : " "; });
  if (quote) out += '"';
}

}  // namespace rigplot
