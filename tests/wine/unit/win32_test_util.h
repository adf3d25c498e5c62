// Helpers for the Windows-only tests: a scratch directory and whole-file
// reads and writes through the Windows calls.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace rigplot::test {

// A fresh directory under the user's temporary directory, removed with its
// files at the end of the test. Paths in the system's code page.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof base, base);
    for (unsigned n = GetTickCount(); length > 0 && m_path.empty(); ++n) {
      const std::string path = std::string(base, length) + "rigplot-test-" + std::to_string(n);
      if (CreateDirectoryA(path.c_str(), nullptr))
        m_path = path;
      else if (GetLastError() != ERROR_ALREADY_EXISTS)
        break;
    }
  }
  ~ScratchDirectory() {
    for (const std::string& name : Entries()) DeleteFileA((m_path + "\\" + name).c_str());
    RemoveDirectoryA(m_path.c_str());
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  bool ok() const { return !m_path.empty(); }
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
  }

 private:
  std::string m_path;
};

inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(file);
  return ok && put == bytes.size();
}

// Read with every sharing flag, as a viewer that lets the file be replaced.
inline std::optional<std::string> ReadWholeFile(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

}  // namespace rigplot::test
