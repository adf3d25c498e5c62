// SPDX-License-Identifier: MIT
// The program's texts are UTF-8 in the source; windows take UTF-16, so they
// read the same on any system code page.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "stations/os_text_win32.h"  // Utf8

namespace rigplot {

inline std::wstring Wide(std::string_view utf8) {
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  }
  return out;
}

// A string from the string table; empty when it is not there.
inline std::wstring LoadResourceString(UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

}  // namespace rigplot
