#include "stations/text_escape.h"

namespace rigplot {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Copies runs of bytes that `plain` passes (every byte from 0x80 up does)
// and hands each other byte to `escape`.
template <typename Plain, typename Other>
void Escape(std::string& out, std::string_view text, Plain plain, Other escape) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t run = i;
    while (i < n && (static_cast<unsigned char>(text[i]) >= 0x80 ||
                     plain(static_cast<unsigned char>(text[i])))) {
      ++i;
    }
    out.append(text.data() + run, i - run);
    if (i < n) escape(out, static_cast<unsigned char>(text[i++]));
  }
}

// Printable ASCII but for the bytes a format must escape.
bool Printable(unsigned char b) {
  return b >= 0x20 && b < 0x7F;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  auto plain = [](unsigned char b) {
    return Printable(b) && b != '"' && b != '\\' && b != '<' && b != '>' && b != '&';
  };
  Escape(out, utf8, plain, [](std::string& o, unsigned char b) {
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
        o += "\\u00";
        o += kHex[b >> 4];
        o += kHex[b & 0xF];
    }
  });
  out += '"';
}

void AppendXmlText(std::string& out, std::string_view utf8) {
  auto plain = [](unsigned char b) {
    return b == 0x7F || (Printable(b) && b != '&' && b != '<' && b != '>' && b != '"' && b != '\'');
  };
  Escape(out, utf8, plain, [](std::string& o, unsigned char b) {
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
        o += ' ';
    }
  });
}

void AppendCsvField(std::string& out, std::string_view utf8) {
  // Spreadsheets run a field that starts like a formula; an apostrophe in
  // front keeps it text. A text that starts with one gets another, so that
  // a reader can take the first away and have the text as heard.
  const bool formula =
      !utf8.empty() && std::string_view("=+-@\t\r'").find(utf8.front()) != std::string_view::npos;
  bool quote = false;
  for (char c : utf8) quote = quote || c == '"' || c == ',';
  if (quote) out += '"';
  if (formula) out += '\'';
  // Control bytes become blanks, so that a terminal showing the log runs no
  // escape sent over the air.
  Escape(
      out, utf8, [](unsigned char b) { return Printable(b) && b != '"'; },
      [](std::string& o, unsigned char b) { o += b == '"' ? "\"\"" : " "; });
  if (quote) out += '"';
}

}  // namespace rigplot
