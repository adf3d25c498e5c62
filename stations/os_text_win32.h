// SPDX-License-Identifier: MIT
// Paths and error texts for the Windows file calls.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace rigplot {

// A path in code page `page` (CP_ACP or CP_UTF8) as UTF-16; empty when it
// does not convert.
std::wstring WidePath(const std::string& path, UINT page);

// UTF-16 from the system as UTF-8.
std::string Utf8(std::wstring_view wide);

// The system's text for an error code, UTF-8, without the line end.
std::string SystemMessage(DWORD error);

}  // namespace rigplot
