// SPDX-License-Identifier: MIT
// Replacing a file in one step on Windows.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "stations/atomic_file.h"
#include "stations/os_text_win32.h"

namespace rigplot {
namespace {

// How often, and how far apart, the new file is moved over the old one
// while a reader holds the old one open.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplacePauseMs = 20;

bool Busy(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// A name this writer makes from the path's: "0.mps.1234-0", the process id
// and a number.
bool IsTempOf(std::wstring_view entry, std::wstring_view name) {
  if (entry.size() < name.size() + 4 || entry.substr(0, name.size()) != name ||
      entry[name.size()] != L'.') {
    return false;
  }
  const std::wstring_view rest = entry.substr(name.size() + 1);
  const std::size_t dash = rest.find(L'-');
  if (dash == 0 || dash == std::wstring_view::npos || dash + 1 == rest.size()) return false;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (i != dash && (rest[i] < L'0' || rest[i] > L'9')) return false;
  }
  return true;
}

// Removes the new files that writers killed in mid-rewrite left beside the
// path. One another live writer still has open cannot be deleted: it stays.
void RemoveLeftovers(const std::wstring& target) {
  const std::size_t slash = target.find_last_of(L"\\/");
  const std::wstring dir = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((target + L".*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTempOf(found.cFileName, name)) {
      DeleteFileW((dir + found.cFileName).c_str());
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

}  // namespace

// The new file is written beside the old one under a name of its own and
// then moved over it. A reader holding the old file keeps the move out for
// a moment: a few brief retries, then the old file stays and the next
// report writes again.
bool AtomicFileWriter::Replace(const std::string& path, std::string_view bytes) {
  m_lastError.clear();
  const UINT page = m_encoding == PathEncoding::kUtf8 ? CP_UTF8 : CP_ACP;
  const std::wstring target = WidePath(path, page);
  if (target.empty()) {
    m_lastError = SystemMessage(ERROR_INVALID_NAME);
    return false;
  }
  if (m_sweptPath != path) {
    RemoveLeftovers(target);
    m_sweptPath = path;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring temp;
  const std::string stem = path + "." + std::to_string(GetCurrentProcessId()) + "-";
  for (int n = 0; n < 100 && file == INVALID_HANDLE_VALUE; ++n) {
    m_tempPath = stem + std::to_string(n);
    temp = WidePath(m_tempPath, page);
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    m_lastError = SystemMessage(GetLastError());
    return false;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    m_lastError = SystemMessage(ERROR_TOO_MANY_OPEN_FILES);
    CloseHandle(file);
    DeleteFileW(temp.c_str());
    return false;
  }
  m_file = _fdopen(fd, "wb");
  if (m_file == nullptr) {
    m_lastError = SystemMessage(ERROR_TOO_MANY_OPEN_FILES);
    _close(fd);
    DeleteFileW(temp.c_str());
    return false;
  }
  // Binary: the bytes are written as they are, CR LF included.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), m_file) == bytes.size();
  // The C runtime keeps the system's code of a failed write.
  if (!written) m_lastError = SystemMessage(_doserrno != 0 ? _doserrno : ERROR_WRITE_FAULT);
  // On disk before it takes the name, so that a power cut leaves one whole file.
  if (written && !FlushFileBuffers(file)) {
    m_lastError = SystemMessage(GetLastError());
    written = false;
  }
  if (std::fclose(m_file) != 0 && written) {
    m_lastError = SystemMessage(_doserrno != 0 ? _doserrno : ERROR_WRITE_FAULT);
    written = false;
  }
  m_file = nullptr;
  for (int attempt = 1; written; ++attempt) {
    if (MoveFileExW(temp.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (attempt == kReplaceAttempts || !Busy(error)) {
      m_lastError = SystemMessage(error);
      break;
    }
    Sleep(kReplacePauseMs);
  }
  DeleteFileW(temp.c_str());
  return false;
}

void AtomicFileWriter::CloseIfOpen() {
  if (m_file == nullptr) return;
  std::fclose(m_file);
  m_file = nullptr;
  DeleteFileW(WidePath(m_tempPath, m_encoding == PathEncoding::kUtf8 ? CP_UTF8 : CP_ACP).c_str());
}

}  // namespace rigplot
