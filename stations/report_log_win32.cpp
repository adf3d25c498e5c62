// The report log's files on Windows.
#include <windows.h>

#include "stations/os_text_win32.h"
#include "stations/report_log.h"

namespace rigplot {

bool AppendFile::Open(const std::string& path, std::uint64_t& size, bool& endsLine,
                      std::string& error) {
  Close();
  const std::wstring wide = WidePath(path, CP_UTF8);
  // Append data only: every write lands at the end, whatever else has the
  // file open; readers may keep it open meanwhile.
  const HANDLE file = wide.empty()
                          ? INVALID_HANDLE_VALUE
                          : CreateFileW(wide.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER length{};
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &length)) {
    error = path + ": " + SystemMessage(wide.empty() ? ERROR_INVALID_NAME : GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return false;
  }
  size = static_cast<std::uint64_t>(length.QuadPart);
  endsLine = true;
  if (size > 0) {
    OVERLAPPED at{};
    const std::uint64_t lastByte = size - 1;
    at.Offset = static_cast<DWORD>(lastByte);
    at.OffsetHigh = static_cast<DWORD>(lastByte >> 32);
    char last = '\n';
    DWORD read = 0;
    endsLine = ReadFile(file, &last, 1, &read, &at) && read == 1 && last == '\n';
  }
  m_handle = reinterpret_cast<std::intptr_t>(file);
  return true;
}

bool AppendFile::Append(std::string_view bytes, std::string& error) {
  const HANDLE file = reinterpret_cast<HANDLE>(m_handle);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written == 0) {
      error = SystemMessage(GetLastError());
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

void AppendFile::Close() {
  if (m_handle == kClosed) return;
  CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = kClosed;
}

// Every leading part of the path is tried; only the last one must end up a
// directory, so parts that exist or cannot be made (C:, a share) pass.
bool MakeDirectories(const std::string& dir, std::string& error) {
  DWORD lastError = 0;
  for (std::size_t at = dir.find_first_of("/\\", 1);; at = dir.find_first_of("/\\", at + 1)) {
    const std::wstring part = WidePath(dir.substr(0, at), CP_UTF8);
    if (!part.empty() && !CreateDirectoryW(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      lastError = GetLastError();
    }
    if (at == std::string::npos) break;
  }
  const std::wstring wide = WidePath(dir, CP_UTF8);
  const DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  error = dir + ": " + SystemMessage(lastError != 0 ? lastError : ERROR_DIRECTORY);
  return false;
}

}  // namespace rigplot
