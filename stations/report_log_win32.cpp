// SPDX-License-Identifier: MIT
// The report log's files on Windows.
#include <windows.h>

#include "stations/os_text_win32.h"
#include "stations/report_log.h"

namespace rigplot {

namespace {

// Cuts away whatever follows the file's last line feed, through a handle of
// its own: the one for appending may not move the end of the file.
DWORD CutToLastLine(const std::wstring& wide, std::uint64_t& size) {
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  LARGE_INTEGER length{};
  DWORD result = GetFileSizeEx(file, &length) ? ERROR_SUCCESS : GetLastError();
  const auto total = static_cast<std::uint64_t>(length.QuadPart);
  std::uint64_t keep = 0;
  char block[4096];
  for (std::uint64_t end = total; result == ERROR_SUCCESS && end > 0 && keep == 0;) {
    const std::uint64_t from = end > sizeof block ? end - sizeof block : 0;
    const auto wanted = static_cast<DWORD>(end - from);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(from);
    at.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD read = 0;
    if (!ReadFile(file, block, wanted, &read, &at) || read != wanted) {
      result = read != wanted ? ERROR_READ_FAULT : GetLastError();
      break;
    }
    for (DWORD i = wanted; i > 0 && keep == 0; --i) {
      if (block[i - 1] == '\n') keep = from + i;
    }
    end = from;
  }
  if (result == ERROR_SUCCESS && keep != total) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(keep);
    if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
      result = GetLastError();
    }
  }
  CloseHandle(file);
  size = keep;
  return result;
}

}  // namespace

bool AppendFile::Open(const std::string& path, std::uint64_t& size, std::string& error) {
  Close();
  const std::wstring wide = WidePath(path, CP_UTF8);
  const DWORD cut = wide.empty() ? ERROR_INVALID_NAME : CutToLastLine(wide, size);
  if (cut != ERROR_SUCCESS) {
    error = path + ": " + SystemMessage(cut);
    return false;
  }
  // Append data only: every write lands at the end, whatever else has the
  // file open; readers may keep it open meanwhile.
  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = path + ": " + SystemMessage(GetLastError());
    return false;
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
