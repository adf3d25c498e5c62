// Where the map script lives on POSIX systems and how it is replaced.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "stations/map_script_writer.h"

namespace rigplot {

std::string MapScriptPath() {
  // TEMP first, as on the desktop the viewer comes from; TMPDIR is the POSIX
  // name. An empty value names no directory.
  for (const char* name : {"TEMP", "TMPDIR"}) {
    const char* dir = std::getenv(name);
    if (dir != nullptr && *dir != '\0') return std::string(dir) + "/0.mps";
  }
  return "/tmp/0.mps";
}

std::tm MapScriptWriter::LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

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

// The new file is written beside the old one under a unique name and then
// moved over it; a failed write leaves the old file as it was.
bool MapScriptWriter::ReplaceFile(const std::string& path) {
  m_tempPath.assign(path).append(".XXXXXX");
  const int fd = mkstemp(m_tempPath.data());
  if (fd < 0) {
    m_lastError = std::strerror(errno);
    return false;
  }
  // mkstemp makes the file private; the viewer may run as another user.
  // Where the file system has no modes this fails harmlessly.
  (void)fchmod(fd, 0644);
  m_mapScriptFile = fdopen(fd, "wb");
  if (m_mapScriptFile == nullptr) {
    m_lastError = std::strerror(errno);
    close(fd);
    unlink(m_tempPath.c_str());
    return false;
  }
  // The whole file is in the buffer already: no second copy through stdio.
  std::setvbuf(m_mapScriptFile, nullptr, _IONBF, 0);
  errno = 0;
  bool written =
      std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_mapScriptFile) == m_buffer.size();
  int error = errno;
  if (std::fclose(m_mapScriptFile) != 0 && written) {
    written = false;
    error = errno;
  }
  m_mapScriptFile = nullptr;
  if (written) {
    if (MoveIntoPlace(m_tempPath.c_str(), path.c_str())) return true;
    error = errno;
  }
  m_lastError = std::strerror(error != 0 ? error : EIO);
  unlink(m_tempPath.c_str());
  return false;
}

}  // namespace rigplot
