// SPDX-License-Identifier: MIT
// iconv for the Windows test build, which has no libiconv: the two
// conversions the tests use (UTF-8 and code page 932, either way) through
// the system's own code page tables. Like iconv, a conversion that meets a
// byte or character it cannot convert fails as a whole.
#pragma once

#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

using iconv_t = void*;

namespace rigplot::test::compat {

struct Conversion {
  UINT from;
  UINT to;
};

inline UINT CodePageOf(const char* name) {
  if (std::strcmp(name, "UTF-8") == 0) return CP_UTF8;
  if (std::strcmp(name, "CP932") == 0) return 932;
  return 0;
}

}  // namespace rigplot::test::compat

inline iconv_t iconv_open(const char* to, const char* from) {
  using rigplot::test::compat::CodePageOf;
  const UINT toPage = CodePageOf(to);
  const UINT fromPage = CodePageOf(from);
  if (toPage == 0 || fromPage == 0) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  return new rigplot::test::compat::Conversion{fromPage, toPage};
}

inline int iconv_close(iconv_t cd) {
  delete static_cast<rigplot::test::compat::Conversion*>(cd);
  return 0;
}

// Converts all of the input or nothing.
inline std::size_t iconv(iconv_t cd, char** in, std::size_t* inLeft, char** out,
                         std::size_t* outLeft) {
  const auto* conversion = static_cast<const rigplot::test::compat::Conversion*>(cd);
  if (in == nullptr || *in == nullptr || *inLeft == 0) return 0;
  const int inSize = static_cast<int>(*inLeft);
  const int wideSize =
      MultiByteToWideChar(conversion->from, MB_ERR_INVALID_CHARS, *in, inSize, nullptr, 0);
  if (wideSize <= 0) {
    errno = EILSEQ;
    return static_cast<std::size_t>(-1);
  }
  std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
  MultiByteToWideChar(conversion->from, MB_ERR_INVALID_CHARS, *in, inSize, wide.data(), wideSize);
  // UTF-8 takes neither flags nor a default character.
  const bool strict = conversion->to != CP_UTF8;
  BOOL lossy = FALSE;
  const int size =
      WideCharToMultiByte(conversion->to, strict ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), wideSize,
                          nullptr, 0, nullptr, strict ? &lossy : nullptr);
  if (size <= 0 || lossy) {
    errno = EILSEQ;
    return static_cast<std::size_t>(-1);
  }
  if (static_cast<std::size_t>(size) > *outLeft) {
    errno = E2BIG;
    return static_cast<std::size_t>(-1);
  }
  WideCharToMultiByte(conversion->to, strict ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), wideSize,
                      *out, size, nullptr, nullptr);
  *in += *inLeft;
  *inLeft = 0;
  *out += size;
  *outLeft -= static_cast<std::size_t>(size);
  return 0;
}
