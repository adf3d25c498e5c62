// SPDX-License-Identifier: MIT
// Replacing a file in one step on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "stations/atomic_file.h"

namespace rigplot {
namespace {

// Moves the new file to the path. Where the old file is a regular file the
// two are exchanged and the old one removed: a plain rename over an existing
// file makes ext4 start writing the new file out at once, which costs ten
// times the rest of the rewrite. Anything else at the path (nothing yet, a
// symlink, a directory) is left to rename, which replaces only files.
// `renamed` says a new name went into the folder.
bool MoveIntoPlace(const char* from, const char* to, bool& renamed) {
  renamed = false;
#ifdef RENAME_EXCHANGE
  struct stat target {};
  if (lstat(to, &target) == 0 && S_ISREG(target.st_mode) &&
      renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
    unlink(from);
    return true;
  }
#endif
  renamed = std::rename(from, to) == 0;
  return renamed;
}

void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  const std::size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name mkstemp made from the path's: "0.mps.a1B2c3".
bool IsTempOf(std::string_view entry, std::string_view name) {
  if (entry.size() != name.size() + 7 || entry.substr(0, name.size()) != name ||
      entry[name.size()] != '.') {
    return false;
  }
  for (char c : entry.substr(name.size() + 1)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

// Removes the new files that writers killed in mid-rewrite left beside the
// path. A writer holds an advisory lock on its new file until it is in
// place, so one that a live writer is still working on stays.
void RemoveLeftovers(const std::string& path) {
  std::string dir, name;
  SplitPath(path, dir, name);
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) return;
  while (const dirent* entry = readdir(folder)) {
    if (!IsTempOf(entry->d_name, name)) continue;
    const std::string leftover = dir + "/" + entry->d_name;
    const int fd = open(leftover.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      unlink(leftover.c_str());
    }
    close(fd);
  }
  closedir(folder);
}

// A new name in a folder lasts through a power cut only once the folder is
// written out too.
void SyncFolderOf(const std::string& path) {
  std::string dir, name;
  SplitPath(path, dir, name);
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)fsync(fd);
  close(fd);
}

// A new file of its own beside the path, locked against the leftover sweep
// of another writer. -1 with errno on failure.
int MakeTempFile(std::string& tempPath, const std::string& path) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    tempPath.assign(path).append(".XXXXXX");
    const int fd = mkstemp(tempPath.data());
    if (fd < 0) return -1;
    struct stat info {};
    // Swept away between its making and its lock: make another.
    if (flock(fd, LOCK_EX) == 0 && fstat(fd, &info) == 0 && info.st_nlink > 0) return fd;
    close(fd);
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace

bool AtomicFileWriter::Replace(const std::string& path, std::string_view bytes) {
  m_lastError.clear();
  if (m_sweptPath != path) {
    RemoveLeftovers(path);
    m_sweptPath = path;
  }
  const int fd = MakeTempFile(m_tempPath, path);
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
  // On disk before it takes the name: the exchange does not make ext4 write
  // it out, and a power cut would leave a file of length zero.
  if (written && fsync(fd) != 0) {
    m_lastError = std::strerror(errno);
    written = false;
  }
  // Unbuffered and on disk: closing can lose nothing now, so the file (and
  // with it the lock against another writer's sweep) stays open until moved.
  bool moved = false;
  bool renamed = false;
  if (written) {
    moved = MoveIntoPlace(m_tempPath.c_str(), path.c_str(), renamed);
    if (!moved) m_lastError = std::strerror(errno);
  }
  std::fclose(m_file);
  m_file = nullptr;
  if (moved) {
    if (renamed) SyncFolderOf(path);
    return true;
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
