// SPDX-License-Identifier: MIT
// Code page 932 and UTF-8 through iconv, independent of the code under test:
// expected texts are written readable and converted. The Windows test run
// has an iconv over the system's code page tables (tests/wine/compat).
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <string_view>

namespace rigplot::test {

// All of `text` converted, or a test failure and what was converted so far.
inline std::string Convert(std::string_view text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv cannot convert " << from << " to " << to;
    return {};
  }
  std::string out(text.size() * 3 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  char* at = out.data();
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(cd, &in, &inLeft, &at, &outLeft);
  iconv_close(cd);
  EXPECT_NE(done, static_cast<std::size_t>(-1)) << "not " << from << ": " << text;
  out.resize(out.size() - outLeft);
  return out;
}

inline std::string ToCp932(std::string_view utf8) {
  return Convert(utf8, "CP932", "UTF-8");
}

inline std::string FromCp932(std::string_view cp932) {
  return Convert(cp932, "UTF-8", "CP932");
}

}  // namespace rigplot::test
