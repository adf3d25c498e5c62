// SPDX-License-Identifier: MIT
// UTF-8 text escaped for the formats that carry it: JSON strings, XML (and
// HTML) character data and attribute values, and the report log's CSV
// fields. Bytes from 0x80 up pass as they are: the input is valid UTF-8
// (radio texts are read into it once, by AppendUtf8 in radio_text.h).
// Thread: pure, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace rigplot {

// The text as a JSON string, quotes included: '"', '\', control bytes, DEL
// and '<', '>', '&' as escapes, so the string is also safe inside a page.
void AppendJsonString(std::string& out, std::string_view utf8);

// The text as XML 1.0 (or HTML) character data or an attribute value: the
// five markup characters as entities, tab, LF and CR as character
// references, other control bytes (which XML 1.0 cannot carry) as spaces.
void AppendXmlText(std::string& out, std::string_view utf8);

// The text as one RFC 4180 field for a log that people open in spreadsheets
// and terminals: control bytes and DEL as blanks, an apostrophe in front of
// a leading '=', '+', '-', '@', tab or CR, and quoted (quotes doubled) when
// it holds a quote or a comma.
void AppendCsvField(std::string& out, std::string_view utf8);

}  // namespace rigplot
