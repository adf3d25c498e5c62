// SPDX-License-Identifier: MIT
// Radio texts in the open formats: code page 932 as the radio sends it, read
// into UTF-8 (escaped for each format by text_escape.h).
//
// Bytes are walked here, the same way on every OS; only the reading of a
// whole character (a half-width kana byte or a lead and trail pair) is the
// system converter's, asked once per character for a table made on first
// use. A byte that is not a character (0x80, 0xA0, 0xFD to 0xFF), a lead byte
// without its trail, and a pair the converter has no reading for each become
// U+FFFD; an ASCII byte after an unread lead byte is read again on its own.
// The result is always valid UTF-8, whatever the input.
// Thread: any; the table is made once, under the language's static guard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rigplot {

// The text as UTF-8. ASCII bytes, control bytes included, stay as they are.
void AppendUtf8(std::string& out, std::string_view cp932);

// Per OS: the system converter's reading of code page 932 characters. Each
// code is one byte (0x00A1) or a lead and trail pair (0x8140); `units` gets
// the UTF-16 unit for it, or 0 where the converter has none.
void SystemCp932Characters(const std::uint16_t* codes, std::size_t count, char16_t* units);

}  // namespace rigplot
