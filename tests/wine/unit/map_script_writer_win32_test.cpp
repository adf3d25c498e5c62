// The map script on disk, Windows side: TEMP and "\0.mps", the rendered
// bytes exactly (CR LF written once), and a replace that waits briefly for a
// viewer holding the old file, then keeps it for the next report.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <ctime>
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
using test::TempDir;

// The file's bytes as a viewer reads them, sharing it with every other use
// so that the writer may replace it meanwhile; empty when it is missing.
std::string ReadAsViewer(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  CloseHandle(file);
  return bytes;
}

TEST(MapScriptPathWin32, TempAndZeroMps) {
  const test::SavedVariable temp("TEMP");
  const struct {
    const char* temp;  // nullptr: unset
    const char* path;
  } rows[] = {
      {"C:\\Temp", "C:\\Temp\\0.mps"},
      {"C:\\Users\\op\\AppData\\Local\\Temp", "C:\\Users\\op\\AppData\\Local\\Temp\\0.mps"},
      {"C:\\Temp\\", "C:\\Temp\\\\0.mps"},  // taken as it is
      {nullptr, "\\0.mps"},                 // the root of the current drive
  };
  for (const auto& row : rows) {
    temp.Set(row.temp);
    EXPECT_EQ(MapScriptPath(), row.path) << (row.temp ? row.temp : "(unset)");
  }
}

// The file on disk is Render's output for the time of the rewrite, byte for
// byte, and nothing else is left in the directory.
TEST(MapScriptWriteWin32, WritesTheRenderedBytes) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  Store(table, Station("JH2XYZ", "9", "400", "100"));
  const std::string path = dir / "0.mps";
  MapScriptWriter writer;
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(writer.Write(path, table));
  const std::time_t after = std::time(nullptr);
  const std::string file = ReadWholeFile(path);
  EXPECT_EQ(Lines(file).size(), 103u);
  bool matches = false;
  for (std::time_t t = before; t <= after && !matches; ++t) {
    std::tm local{};
    localtime_s(&local, &t);
    std::string expected;
    std::scoped_lock lock(table.mutex());
    MapScriptWriter::Render(expected, path, table, local);
    matches = expected == file;
  }
  EXPECT_TRUE(matches);
  EXPECT_EQ(file.find("\r\r"), std::string::npos);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
}

// A viewer that opened the old file without delete sharing blocks the
// replace. The writer retries briefly, then keeps the old file whole and
// cleans up; once the viewer lets go, the next report writes again.
TEST(MapScriptWriteWin32, ViewerHoldingTheFileKeepsTheOldOneUntilTheNextReport) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string path = dir / "0.mps";
  MapScriptWriter writer;
  ASSERT_TRUE(writer.Write(path, table));
  const std::string old = ReadWholeFile(path);

  const HANDLE viewer = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  Store(table, Station("JH2XYZ", "0", "90", "10"));
  const bool writtenWhileHeld = writer.Write(path, table);
  CloseHandle(viewer);

  EXPECT_FALSE(writtenWhileHeld);
  EXPECT_EQ(ReadWholeFile(path), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
  writer.CloseIfOpen();  // nothing open: must not fail or remove anything
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});

  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 103u);
}

TEST(MapScriptWriteWin32, UnwritablePlacesFailAndLeaveNothing) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  ASSERT_TRUE(CreateDirectoryA((dir / "0.mps").c_str(), nullptr));  // a directory in the way
  MapScriptWriter writer;
  for (const std::string& path : {dir / "missing\\0.mps", dir / "0.mps"}) {
    EXPECT_FALSE(writer.Write(path, table)) << path;
    writer.CloseIfOpen();
  }
  RemoveDirectoryA((dir / "0.mps").c_str());
  EXPECT_TRUE(dir.Entries().empty());
}

// A viewer reading all the while sees one whole file at every read. Its
// reads may hold a replace up now and then (a file that is open cannot be
// replaced everywhere); those reports keep the old file, and the next one
// writes again.
TEST(MapScriptWriteWin32, ReaderNeverSeesAPartialFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  const std::string path = dir / "0.mps";
  MapScriptWriter writer;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  ASSERT_TRUE(writer.Write(path, table));

  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::string firstBad;  // read only after the join
  std::thread reader([&] {
    while (!done.load()) {
      const std::string file = ReadAsViewer(path);
      if (!test::IsWholeMapScript(file)) {
        firstBad = file.empty() ? "(missing)" : file;
        return;
      }
      ++reads;
    }
  });
  int written = 0;
  for (int i = 0; i < 300; ++i) {
    if (i % 2 == 0) {
      for (int s = 0; s < 99; ++s)
        Store(table, Station(("S" + std::to_string(s)).c_str(), "0", "90", "1"));
    } else {
      test::Clear(table);
      Store(table, Station("JA1ABC", "0", "90", "10"));
    }
    std::scoped_lock lock(table.mutex());
    if (writer.Write(path, table)) ++written;
  }
  done = true;
  reader.join();
  EXPECT_EQ(firstBad, "");
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(written, 0);
  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(Lines(ReadWholeFile(path)).size(), 102u);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
}

}  // namespace
}  // namespace rigplot
