// Where the map script lives on Windows and how it is replaced.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// windows.h names its own ReplaceFile function by a macro; the member here
// is the writer's.
#undef ReplaceFile

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "stations/map_script_writer.h"

namespace rigplot {

namespace {

// How often, and how far apart, the new file is moved over the old one
// while the viewer holds the old one open.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplacePauseMs = 20;

// Paths are held in the system's code page, as TEMP gives them and as the
// map script carries them; the file calls take them as UTF-16.
std::wstring Wide(const std::string& path) {
  const int size =
      MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), out.data(), size);
  }
  return out;
}

bool Busy(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

}  // namespace

// TEMP and "\0.mps"; with TEMP unset, "\0.mps" in the root of the current drive.
std::string MapScriptPath() {
  const char* dir = std::getenv("TEMP");
  return std::string(dir != nullptr ? dir : "") + "\\0.mps";
}

std::tm MapScriptWriter::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  return local;
}

// The new file is written beside the old one under a name of its own and
// then moved over it. A viewer reading the old file keeps the move out for a
// moment: a few brief retries, then the old file stays and the next report
// writes again.
bool MapScriptWriter::ReplaceFile(const std::string& path) {
  // Every failure below leaves its code in GetLastError (or errno for the CRT).
  m_lastError = "cannot write the file";
  const std::wstring target = Wide(path);
  if (target.empty()) return false;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring temp;
  const std::string stem = path + "." + std::to_string(GetCurrentProcessId()) + "-";
  for (int n = 0; n < 100 && file == INVALID_HANDLE_VALUE; ++n) {
    m_tempPath = stem + std::to_string(n);
    temp = Wide(m_tempPath);
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      m_lastError = "Windows error " + std::to_string(GetLastError());
      return false;
    }
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    DeleteFileW(temp.c_str());
    return false;
  }
  m_mapScriptFile = _fdopen(fd, "wb");
  if (m_mapScriptFile == nullptr) {
    _close(fd);
    DeleteFileW(temp.c_str());
    return false;
  }
  // Binary: the buffer already holds CR LF, a text stream would double the CR.
  std::setvbuf(m_mapScriptFile, nullptr, _IONBF, 0);
  bool written =
      std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_mapScriptFile) == m_buffer.size();
  written = std::fclose(m_mapScriptFile) == 0 && written;
  m_mapScriptFile = nullptr;
  for (int attempt = 1; written; ++attempt) {
    if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    m_lastError = "Windows error " + std::to_string(GetLastError());
    if (attempt == kReplaceAttempts || !Busy(GetLastError())) break;
    Sleep(kReplacePauseMs);
  }
  DeleteFileW(temp.c_str());
  return false;
}

}  // namespace rigplot
