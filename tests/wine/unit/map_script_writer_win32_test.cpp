// SPDX-License-Identifier: MIT
// The map script on disk, Windows side: TEMP and "\0.mps", the rendered
// bytes exactly (CR LF written once), and a replace that waits briefly for a
// viewer holding the old file, then keeps it for the next report.
#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "stations/geojson.h"
#include "stations/map_script_writer.h"
#include "stations/report_log.h"
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

using MapScriptWriteWin32 = test::MapScriptFileTest;

// The file on disk is Render's output for the time of the rewrite, byte for
// byte, and nothing else is left in the directory.
TEST_F(MapScriptWriteWin32, WritesTheRenderedBytes) {
  Store(m_table, Station("JH2XYZ", "9", "400", "100"));
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  const std::time_t after = std::time(nullptr);
  const std::string file = ReadWholeFile(m_path);
  EXPECT_EQ(Lines(file).size(), 103u);
  EXPECT_TRUE(test::RenderedWithin(m_table, m_path, before, after, file));
  EXPECT_EQ(file.find("\r\r"), std::string::npos);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
}

// A viewer that opened the old file without delete sharing blocks the
// replace. The writer retries briefly, then keeps the old file whole and
// cleans up; once the viewer lets go, the next report writes again.
TEST_F(MapScriptWriteWin32, ViewerHoldingTheFileKeepsTheOldOneUntilTheNextReport) {
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  const std::string old = ReadWholeFile(m_path);

  const HANDLE viewer =
      CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  Store(m_table, Station("JH2XYZ", "0", "90", "10"));
  const bool writtenWhileHeld = m_writer.Write(m_path, m_table);
  CloseHandle(viewer);

  EXPECT_FALSE(writtenWhileHeld);
  EXPECT_EQ(ReadWholeFile(m_path), old);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
  m_writer.CloseIfOpen();  // nothing open: must not fail or remove anything
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});

  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 103u);
}

TEST_F(MapScriptWriteWin32, UnwritablePlacesFailAndLeaveNothing) {
  ASSERT_TRUE(CreateDirectoryA(m_path.c_str(), nullptr));  // a directory in the way
  for (const std::string& path : {m_dir / "missing\\0.mps", m_path}) {
    EXPECT_FALSE(m_writer.Write(path, m_table)) << path;
    EXPECT_FALSE(m_writer.lastError().empty()) << path;
    m_writer.CloseIfOpen();
  }
  RemoveDirectoryA(m_path.c_str());
  EXPECT_TRUE(m_dir.Entries().empty());
}

// A viewer reading all the while sees one whole file at every read. Its
// reads may hold a replace up now and then (a file that is open cannot be
// replaced everywhere); those reports keep the old file, and the next one
// writes again.
TEST_F(MapScriptWriteWin32, ReaderNeverSeesAPartialFile) {
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  test::MapScriptReader reader([&] { return ReadAsViewer(m_path); });
  int written = 0;
  for (int i = 0; i < 300; ++i) {
    test::SwingTable(m_table, i);
    std::scoped_lock lock(m_table.mutex());
    if (m_writer.Write(m_path, m_table)) ++written;
  }
  reader.Stop();
  EXPECT_EQ(reader.firstBad(), "");
  EXPECT_GT(reader.reads(), 0);
  EXPECT_GT(written, 0);
  ASSERT_TRUE(m_writer.Write(m_path, m_table));
  EXPECT_EQ(Lines(ReadWholeFile(m_path)).size(), 102u);
  EXPECT_EQ(m_dir.Entries(), std::vector<std::string>{"0.mps"});
}

// Paths from the command line are UTF-8: a folder named in Japanese is made
// and written under that name, not under its bytes read in the system's code page.
TEST(OpenFormatsWin32, Utf8PathsNameTheFiles) {
  test::TempDir dir;
  StationTable table;
  std::scoped_lock lock(table.mutex());
  PendingReport report = test::Station("JA1ABC", "0", "90", "10");
  report.receivedTime = std::time(nullptr);
  const int slot = table.StoreReport(report);
  const std::string folder = dir.path() + "\\\xe3\x83\xad\xe3\x82\xb0";  // ログ
  ReportLog log(folder + "\\days");
  GeoJsonFileOutput geojson(folder + "\\\xe5\xb1\x80.geojson");
  std::string error;
  ASSERT_TRUE(log.Publish(table, slot, error)) << error;
  ASSERT_TRUE(geojson.Publish(table, slot, error)) << error;
  const std::wstring wide = std::wstring(dir.path().begin(), dir.path().end()) + L"\\\u30ed\u30b0";
  const DWORD attributes = GetFileAttributesW((wide + L"\\days").c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_NE(GetFileAttributesW((wide + L"\\\u5c40.geojson").c_str()), INVALID_FILE_ATTRIBUTES);
  log.Close();
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((wide + L"\\days\\*.csv").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  DeleteFileW((wide + L"\\days\\" + found.cFileName).c_str());
  FindClose(search);
  RemoveDirectoryW((wide + L"\\days").c_str());
  DeleteFileW((wide + L"\\\u5c40.geojson").c_str());
  EXPECT_TRUE(RemoveDirectoryW(wide.c_str()));
}

}  // namespace
}  // namespace rigplot
