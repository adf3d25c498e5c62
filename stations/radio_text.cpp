#include "stations/radio_text.h"

#include <array>
#include <vector>

#include "stations/cp932.h"

namespace rigplot {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

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
      if (!IsCp932LeadByte(static_cast<unsigned char>(lead))) continue;
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

}  // namespace

void AppendUtf8(std::string& out, std::string_view cp932) {
  const std::size_t n = cp932.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t run = i;
    while (i < n && static_cast<unsigned char>(cp932[i]) < 0x80) ++i;
    out.append(cp932.data() + run, i - run);
    if (i == n) break;
    const auto b = static_cast<unsigned char>(cp932[i]);
    if (IsCp932KanaByte(b)) {
      const char16_t unit = Table().kana[b - 0xA1];
      AppendUnit(out, unit != 0 ? unit : kReplacement);
    } else if (IsCp932LeadByte(b) && i + 1 < n &&
               IsCp932TrailByte(static_cast<unsigned char>(cp932[i + 1]))) {
      const auto trail = static_cast<unsigned char>(cp932[i + 1]);
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

}  // namespace rigplot
