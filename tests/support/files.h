// SPDX-License-Identifier: MIT
// Whole files and scratch directories, through the standard library only, so
// that the Linux and the Windows test runs share them.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace rigplot::test {

// The file's bytes; empty when it is missing or cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Replaces the file's content; false when it cannot be written.
inline bool WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// How many times `what` occurs in `text` ("point pos=" in a map script).
inline int CountOf(std::string_view text, std::string_view what) {
  int count = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// A fresh directory under `parent`, removed with everything in it; throws
// when it cannot be made. Its own random name, so that copies of a test
// running side by side never share one. By default under TMPDIR (else /tmp)
// on Linux and the system's temporary directory on Windows; not TEMP, which
// tests point at their own directories for the program under test.
class TempDir {
 public:
  explicit TempDir(const std::string& parent = "") {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path base = parent;
    if (base.empty()) {
#ifdef _WIN32
      base = fs::temp_directory_path(error);
#else
      const char* tmpdir = std::getenv("TMPDIR");
      base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
#endif
    }
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100 && m_path.empty() && !error; ++attempt) {
      const fs::path path = base / ("rigplot-test-" + std::to_string(random()));
      if (fs::create_directory(path, error)) m_path = path.string();
    }
    // Loud: a test that went on would write its files wherever it runs.
    if (m_path.empty()) {
      throw fs::filesystem_error("cannot make a scratch directory", base, error);
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const {
    return m_path;
  }
  std::string operator/(std::string_view name) const {
    return (std::filesystem::path(m_path) / name).string();
  }

  // The names in the directory, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string m_path;
};

}  // namespace rigplot::test
