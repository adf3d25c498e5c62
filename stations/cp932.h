// SPDX-License-Identifier: MIT
// The byte classes of code page 932, as the radio sends its texts: a lead
// byte starts a two-byte character, whose trail byte may look like ASCII
// (0x5C, a backslash, among them); a kana byte is a half-width character.
// Thread: pure, callable from any thread.
#pragma once

namespace rigplot {

constexpr bool IsCp932LeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

constexpr bool IsCp932TrailByte(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

constexpr bool IsCp932KanaByte(unsigned char b) {
  return b >= 0xA1 && b <= 0xDF;
}

}  // namespace rigplot
