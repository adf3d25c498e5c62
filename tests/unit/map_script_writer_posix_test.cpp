// SPDX-License-Identifier: MIT
// The map script on disk, POSIX side: the new file is swapped in beside the
// old one, failures keep the old file, and the path comes from TEMP or TMPDIR.
// The report log on a full disk.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "stations/map_script_writer.h"
#include "stations/report_log.h"
#include "stations/station_table.h"
#include "stations/station_view.h"
#include "tests/support/environment.h"
#include "tests/support/files.h"
#include "tests/support/map_script.h"
#include "tests/support/stations.h"

namespace rigplot {
namespace {

using test::Lines;
using test::ReadWholeFile;
using test::Station;
using test::Store;
using test::TempDir;

// Descriptors this process has open.
int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

using MapScriptWrite = test::MapScriptFileTest;

TEST_F(MapScriptWrite, WritesTheRenderedFileWithTheTimeOfTheRewrite) {
  const mode_t oldMask = umask(077);
  const std::time_t before = std::time(nullptr);
  const bool written = m_writer.Write(m_path, m_table);
  const std::time_t after = std::time(nullptr);
  umask(oldMask);
  ASSERT_TRUE(written);

  const std::string file = ReadWholeFile(m_path);
  ASSERT_EQ(Lines(file).size(), 102u);
  EXPECT_TRUE(test::RenderedWithin(m_table, m_path, before, after, file)) << Lines(file)[1];
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
  struct stat info {};
  ASSERT_EQ(stat(m_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(MapScriptWrite, EachRewriteReplacesTheWholeFile) {
  Store(m_table, Station("JH2XYZ", "0", "90", "10"));
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 103u);
  test::Clear(m_table);
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 103u);  // a clear alone writes nothing
  Store(m_table, Station("JR3QQQ", "0", "90", "10"));
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  const std::string file = ReadWholeFile(m_path);
  EXPECT_EQ(Lines(file).size(), 102u);
  EXPECT_NE(file.find("str=\"JR3QQQ\""), std::string::npos);
  EXPECT_EQ(file.find("JA1ABC"), std::string::npos);
}

TEST_F(MapScriptWrite, FailuresLeaveTheOldFileAndNothingOpen) {
  const std::string regular = m_dir / "plain";
  std::ofstream(regular) << "not a directory";
  mkdir(m_path.c_str(), 0755);  // a directory where the file should be
  const int descriptors = OpenDescriptors();
  for (const std::string& path : {regular + "/0.mps", m_dir / "missing/0.mps", m_path}) {
    EXPECT_FALSE(m_writer.Write(path, m_table)) << path;
    EXPECT_FALSE(m_writer.lastError().empty()) << path;
    m_writer.CloseIfOpen();
    EXPECT_EQ(OpenDescriptors(), descriptors) << path;
  }
  rmdir(m_path.c_str());
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"plain"});
}

// In a shared temporary directory another user may plant a link at the path:
// the link is replaced, the file it points to is not written.
TEST_F(MapScriptWrite, ReplacesALinkWithoutFollowingIt) {
  const std::string victim = m_dir / "victim";
  std::ofstream(victim) << "keep me";
  ASSERT_EQ(symlink(victim.c_str(), m_path.c_str()), 0);
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  EXPECT_EQ(ReadWholeFile(victim), "keep me");
  struct stat info {};
  ASSERT_EQ(lstat(m_path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 102u);
}

// A write that fails halfway (a full disk, here a file-size limit that binds
// root too) keeps the old file whole, and the next report writes again.
TEST_F(MapScriptWrite, FailedWriteKeepsTheOldFile) {
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  const std::string old = ReadWholeFile(m_path);

  Store(m_table, Station("JH2XYZ", "0", "90", "10"));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  const int descriptors = OpenDescriptors();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = m_writer.Write(m_path, m_table);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(m_writer.lastError(), std::strerror(EFBIG));
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(ReadWholeFile(m_path), old);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
  EXPECT_EQ(m_table.count(), 2);

  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  EXPECT_EQ(m_writer.lastError(), "");
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 103u);
}

// Writers killed in mid-rewrite leave their new files behind; the next
// writer's first rewrite removes them, but not a new file another live
// writer holds (locked while it writes) nor names that are not ours.
TEST_F(MapScriptWrite, FirstRewriteRemovesWhatKilledWritersLeft) {
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) (void)m_writer.Write(m_path, m_table);
    }
    usleep(static_cast<useconds_t>(1000 + round * 250));
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
  }
  ASSERT_TRUE(test::WriteWholeFile(m_dir / "0.mps.a1B2c3", "mapserver script"));
  for (const char* name : {"0.mps.keep", "0.mps.a1B2c3.txt", "other.mps.Zz9Zz9"}) {
    ASSERT_TRUE(test::WriteWholeFile(m_dir / name, "not ours"));
  }
  ASSERT_TRUE(test::WriteWholeFile(m_dir / "0.mps.LiVe01", "in the making"));
  const int live = open((m_dir / "0.mps.LiVe01").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(live, LOCK_EX), 0);
  MapScriptWriter started;
  EXPECT_TRUE(started.Write(m_path, m_table));
  close(live);
  EXPECT_EQ(m_dir.Entries(), (std::vector<std::string>{"0.mps", "0.mps.LiVe01", "0.mps.a1B2c3.txt",
                                                       "0.mps.keep", "other.mps.Zz9Zz9"}));
}

// The viewer may read at any moment: it must always see one whole file.
TEST_F(MapScriptWrite, ReaderNeverSeesAPartialFile) {
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  test::MapScriptReader reader([&] { return ReadWholeFile(m_path); });
  for (int i = 0; i < 3000 && !reader.failed(); ++i) {
    test::SwingTable(m_table, i);
    std::scoped_lock lock(m_table.mutex());
    ASSERT_TRUE(m_writer.Write(m_path, m_table));
  }
  reader.Stop();
  EXPECT_EQ(reader.firstBad(), "");
  EXPECT_GT(reader.reads(), 0);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
}

// The report log on a full disk (the same limit): a line cut in the middle
// goes, and the next report's line follows the last whole one, so no reader
// takes the lines after a cut quoted field into it.
TEST(ReportLogOnDisk, LineCutByAFullDiskGoesBeforeTheNext) {
  TempDir dir;
  StationTable table;
  std::scoped_lock lock(table.mutex());
  ReportLog log(dir.path());
  auto store = [&](int i) {
    PendingReport report = Station("JA1ABC", "0", "90", "10");
    report.receivedTime = 1796741999;
    report.message = std::string(200, static_cast<char>('a' + i)) + ",\"quoted\"";
    return table.StoreReport(report);
  };
  std::string lines[3];
  for (int i = 0; i < 3; ++i) AppendReportLogLine(lines[i], table.view(store(i)));
  const std::string header(ReportLogHeader());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only the second line meets the limit, halfway.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t saved = limit.rlim_cur;
    std::string error;
    int failed = 0;
    for (int i = 0; i < 3; ++i) {
      const int slot = store(i);
      limit.rlim_cur = i == 1 ? header.size() + lines[0].size() + lines[1].size() / 2 : saved;
      setrlimit(RLIMIT_FSIZE, &limit);
      if (!log.Publish(table, slot, error)) failed |= 1 << i;
    }
    _exit(failed);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2) << "only the second line fails";
  EXPECT_EQ(ReadWholeFile(log.PathFor(1796741999)), header + lines[0] + lines[2]);
}

TEST(MapScriptPath, FirstNonEmptyOfTempAndTmpdir) {
  const test::SavedVariable temp("TEMP");
  const test::SavedVariable tmpdir("TMPDIR");
  const struct {
    const char* temp;  // nullptr: unset
    const char* tmpdir;
    const char* path;
  } rows[] = {
      {"/home/op/tmp", "/var/tmp", "/home/op/tmp/0.mps"},
      {"/home/op/tmp", nullptr, "/home/op/tmp/0.mps"},
      {"", "/var/tmp", "/var/tmp/0.mps"},
      {nullptr, "/var/tmp", "/var/tmp/0.mps"},
      {nullptr, "", "/tmp/0.mps"},
      {"", "", "/tmp/0.mps"},
      {nullptr, nullptr, "/tmp/0.mps"},
      {"/tmp/", nullptr, "/tmp//0.mps"},
  };
  for (const auto& row : rows) {
    temp.Set(row.temp);
    tmpdir.Set(row.tmpdir);
    EXPECT_EQ(MapScriptPath(), row.path)
        << (row.temp ? row.temp : "(unset)") << " " << (row.tmpdir ? row.tmpdir : "(unset)");
  }
}

}  // namespace
}  // namespace rigplot
