// SPDX-License-Identifier: MIT
// The report log's files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "stations/report_log.h"

namespace rigplot {

bool AppendFile::Open(const std::string& path, std::uint64_t& size, std::string& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  // Back to the end of the last whole line, block by block from the end.
  off_t keep = 0;
  char block[4096];
  for (off_t end = info.st_size; end > 0 && keep == 0;) {
    const off_t from = end > static_cast<off_t>(sizeof block) ? end - sizeof block : 0;
    const auto length = static_cast<std::size_t>(end - from);
    const ssize_t got = ::pread(fd, block, length, from);
    if (got != static_cast<ssize_t>(length)) {
      error = path + ": " + std::strerror(got < 0 ? errno : EIO);
      ::close(fd);
      return false;
    }
    for (std::size_t i = length; i > 0 && keep == 0; --i) {
      if (block[i - 1] == '\n') keep = from + static_cast<off_t>(i);
    }
    end = from;
  }
  if (keep != info.st_size && ::ftruncate(fd, keep) != 0) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  size = static_cast<std::uint64_t>(keep);
  m_handle = fd;
  return true;
}

bool AppendFile::Append(std::string_view bytes, std::string& error) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(static_cast<int>(m_handle), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = std::strerror(written < 0 ? errno : EIO);
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

void AppendFile::Close() {
  if (m_handle == kClosed) return;
  ::close(static_cast<int>(m_handle));
  m_handle = kClosed;
}

// Every leading part of the path is tried; only the last one must end up a
// directory, so parts that exist or cannot be made (/, a mount point) pass.
bool MakeDirectories(const std::string& dir, std::string& error) {
  int lastError = 0;
  for (std::size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string part = dir.substr(0, at);
    if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) lastError = errno;
    if (at == std::string::npos) break;
  }
  struct stat info {};
  if (::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
  error = dir + ": " + std::strerror(lastError != 0 ? lastError : ENOTDIR);
  return false;
}

}  // namespace rigplot
