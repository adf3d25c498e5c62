// The map script on disk, POSIX side: the new file is swapped in beside the
// old one, failures keep the old file, and the path comes from TEMP or TMPDIR.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stations/map_script_writer.h"
#include "stations/station_table.h"
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

// Descriptors this process has open.
int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

class MapScriptWrite : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.ok()); }
  test::TempDir m_dir;
};

TEST_F(MapScriptWrite, WritesTheRenderedFileWithTheTimeOfTheRewrite) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string path = m_dir / "0.mps";
  MapScriptWriter writer;
  const mode_t oldMask = umask(077);
  const std::time_t before = std::time(nullptr);
  const bool written = writer.Write(path, table);
  const std::time_t after = std::time(nullptr);
  umask(oldMask);
  ASSERT_TRUE(written);

  const std::string file = ReadWholeFile(path);
  std::vector<std::string> lines = Lines(file);
  ASSERT_EQ(lines.size(), 102u);
  // Every line but the theme line is the table's rendering.
  bool timeMatches = false;
  for (std::time_t t = before; t <= after; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    std::string expected;
    {
      std::scoped_lock lock(table.mutex());
      MapScriptWriter::Render(expected, path, table, local);
    }
    timeMatches = timeMatches || expected == file;
  }
  EXPECT_TRUE(timeMatches) << lines[1];
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(MapScriptWrite, EachRewriteReplacesTheWholeFile) {
  StationTable table;
  const std::string path = m_dir / "0.mps";
  MapScriptWriter writer;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  Store(table, Station("JH2XYZ", "0", "90", "10"));
  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 103u);
  test::Clear(table);
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 103u);  // a clear alone writes nothing
  Store(table, Station("JR3QQQ", "0", "90", "10"));
  ASSERT_TRUE(writer.Write(path, table));
  const std::string file = ReadWholeFile(path);
  EXPECT_EQ(Lines(file).size(), 102u);
  EXPECT_NE(file.find("str=\"JR3QQQ\""), std::string::npos);
  EXPECT_EQ(file.find("JA1ABC"), std::string::npos);
}

TEST_F(MapScriptWrite, FailuresLeaveTheOldFileAndNothingOpen) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string regular = m_dir / "plain";
  std::ofstream(regular) << "not a directory";
  mkdir((m_dir / "0.mps").c_str(), 0755);  // a directory where the file should be
  const int descriptors = OpenDescriptors();
  MapScriptWriter writer;
  for (const std::string& path : {regular + "/0.mps", m_dir / "missing/0.mps", m_dir / "0.mps"}) {
    EXPECT_FALSE(writer.Write(path, table)) << path;
    writer.CloseIfOpen();
    EXPECT_EQ(OpenDescriptors(), descriptors) << path;
  }
  rmdir((m_dir / "0.mps").c_str());
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"plain"});
}

// In a shared temporary directory another user may plant a link at the path:
// the link is replaced, the file it points to is not written.
TEST_F(MapScriptWrite, ReplacesALinkWithoutFollowingIt) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string victim = m_dir / "victim";
  std::ofstream(victim) << "keep me";
  const std::string path = m_dir / "0.mps";
  ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
  MapScriptWriter writer;
  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(ReadWholeFile(victim), "keep me");
  struct stat info {};
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 102u);
}

// A write that fails halfway (a full disk, here a file-size limit that binds
// root too) keeps the old file whole, and the next report writes again.
TEST_F(MapScriptWrite, FailedWriteKeepsTheOldFile) {
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string path = m_dir / "0.mps";
  MapScriptWriter writer;
  ASSERT_TRUE(writer.Write(path, table));
  const std::string old = ReadWholeFile(path);

  Store(table, Station("JH2XYZ", "0", "90", "10"));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 4096;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  const int descriptors = OpenDescriptors();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = writer.Write(path, table);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(ReadWholeFile(path), old);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
  EXPECT_EQ(table.count(), 2);

  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 103u);
}

// The viewer may read at any moment: it must always see one whole file.
TEST_F(MapScriptWrite, ReaderNeverSeesAPartialFile) {
  StationTable table;
  const std::string path = m_dir / "0.mps";
  MapScriptWriter writer;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  ASSERT_TRUE(writer.Write(path, table));

  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<bool> failed{false};
  std::string firstBad;  // read only after the join
  std::thread reader([&] {
    while (!done.load()) {
      const std::string file = ReadWholeFile(path);
      if (!test::IsWholeMapScript(file)) {
        firstBad = file.empty() ? "(missing)" : file;
        failed = true;
        return;
      }
      ++reads;
    }
  });
  for (int i = 0; i < 3000 && !failed.load(); ++i) {
    // The count swings between 1 and 100 stations, so a mix of two files shows.
    if (i % 2 == 0) {
      for (int s = 0; s < 99; ++s)
        Store(table, Station(("S" + std::to_string(s)).c_str(), "0", "90", "1"));
    } else {
      test::Clear(table);
      Store(table, Station("JA1ABC", "0", "90", "10"));
    }
    std::scoped_lock lock(table.mutex());
    ASSERT_TRUE(writer.Write(path, table));
  }
  done = true;
  reader.join();
  EXPECT_EQ(firstBad, "");
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
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
