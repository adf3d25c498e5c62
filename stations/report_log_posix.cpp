// The report log's files on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "stations/report_log.h"

namespace rigplot {

bool AppendFile::Open(const std::string& path, std::uint64_t& size, bool& endsLine,
                      std::string& error) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  char last = '\n';
  endsLine = size == 0 || (::pread(fd, &last, 1, info.st_size - 1) == 1 && last == '\n');
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
