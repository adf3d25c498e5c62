#include "stations/os_text_win32.h"

namespace rigplot {

std::wstring WidePath(const std::string& path, UINT page) {
  const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  const int size =
      MultiByteToWideChar(page, flags, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(page, flags, path.data(), static_cast<int>(path.size()), out.data(), size);
  }
  return out;
}

std::string Utf8(std::wstring_view wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size,
                        nullptr, nullptr);
  }
  return out;
}

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message;
  if (length > 0) {
    DWORD end = length;
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' || text[end - 1] == L' '))
      --end;
    message = Utf8(std::wstring_view(text, end));
  } else {
    message = "error " + std::to_string(error);
  }
  LocalFree(text);
  return message;
}

}  // namespace rigplot
