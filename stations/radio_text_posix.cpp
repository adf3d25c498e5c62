// SPDX-License-Identifier: MIT
// Code page 932 through iconv.
#include <iconv.h>

#include "stations/radio_text.h"

namespace rigplot {

void SystemCp932Characters(const std::uint16_t* codes, std::size_t count, char16_t* units) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  for (std::size_t i = 0; i < count; ++i) {
    units[i] = 0;
    if (cd == reinterpret_cast<iconv_t>(-1)) continue;
    char in[2];
    std::size_t inLeft = 0;
    if (codes[i] > 0xFF) in[inLeft++] = static_cast<char>(codes[i] >> 8);
    in[inLeft++] = static_cast<char>(codes[i] & 0xFF);
    char out[8];
    char* inPtr = in;
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // One whole character in, exactly one UTF-16 unit out.
    if (done == static_cast<std::size_t>(-1) || inLeft != 0 || outLeft != sizeof out - 2) continue;
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) |
                                     static_cast<unsigned char>(out[1]) << 8);
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
}

}  // namespace rigplot
