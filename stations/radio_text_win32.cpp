// SPDX-License-Identifier: MIT
// Code page 932 through the system's own table.
#include <windows.h>

#include "stations/radio_text.h"

namespace rigplot {

void SystemCp932Characters(const std::uint16_t* codes, std::size_t count, char16_t* units) {
  for (std::size_t i = 0; i < count; ++i) {
    char in[2];
    int length = 0;
    if (codes[i] > 0xFF) in[length++] = static_cast<char>(codes[i] >> 8);
    in[length++] = static_cast<char>(codes[i] & 0xFF);
    // Without MB_ERR_INVALID_CHARS an unmapped pair would read as the
    // system's default character instead of failing.
    wchar_t out[4];
    const int size = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, in, length, out, 4);
    units[i] = size == 1 ? static_cast<char16_t>(out[0]) : 0;
  }
}

}  // namespace rigplot
