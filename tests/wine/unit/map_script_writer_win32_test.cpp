// The map script on disk, Windows side: TEMP and "\0.mps", the rendered
// bytes exactly (CR LF written once), and a replace that waits briefly for a
// viewer holding the old file, then keeps it for the next report.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "stations/geojson.h"
#include "stations/map_script_writer.h"
#include "stations/report_log.h"
#include "stations/station_table.h"
#include "tests/unit/map_script_test_util.h"
#include "win32_test_util.h"

namespace rigplot {
namespace {

using test::Lines;
using test::ReadWholeFile;
using test::ScratchDirectory;
using test::Station;
using test::Store;
using test::WriteWholeFile;

class SavedTemp {
 public:
  SavedTemp() {
    if (const char* value = std::getenv("TEMP")) m_saved = value;
  }
  ~SavedTemp() { _putenv_s("TEMP", m_saved ? m_saved->c_str() : ""); }

 private:
  std::optional<std::string> m_saved;
};

TEST(MapScriptPathWin32, TempAndZeroMps) {
  SavedTemp saved;
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
    _putenv_s("TEMP", row.temp ? row.temp : "");
    EXPECT_EQ(MapScriptPath(), row.path) << (row.temp ? row.temp : "(unset)");
  }
}

// The file on disk is Render's output for the time of the rewrite, byte for
// byte, and nothing else is left in the directory.
TEST(MapScriptWriteWin32, WritesTheRenderedBytes) {
  ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  Store(table, Station("JH2XYZ", "9", "400", "100"));
  const std::string path = dir / "0.mps";
  MapScriptWriter writer;
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(writer.Write(path, table));
  const std::time_t after = std::time(nullptr);
  const std::optional<std::string> file = ReadWholeFile(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(Lines(*file).size(), 103u);
  bool matches = false;
  for (std::time_t t = before; t <= after && !matches; ++t) {
    std::tm local{};
    localtime_s(&local, &t);
    std::string expected;
    std::scoped_lock lock(table.mutex());
    MapScriptWriter::Render(expected, path, table, local);
    matches = expected == *file;
  }
  EXPECT_TRUE(matches);
  EXPECT_EQ(file->find("\r\r"), std::string::npos);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
}

// A viewer that opened the old file without delete sharing blocks the
// replace. The writer retries briefly, then keeps the old file whole and
// cleans up; once the viewer lets go, the next report writes again.
TEST(MapScriptWriteWin32, ViewerHoldingTheFileKeepsTheOldOneUntilTheNextReport) {
  ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  const std::string path = dir / "0.mps";
  MapScriptWriter writer;
  ASSERT_TRUE(writer.Write(path, table));
  const std::string old = *ReadWholeFile(path);

  const HANDLE viewer = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
  Store(table, Station("JH2XYZ", "0", "90", "10"));
  const bool writtenWhileHeld = writer.Write(path, table);
  CloseHandle(viewer);

  EXPECT_FALSE(writtenWhileHeld);
  EXPECT_EQ(*ReadWholeFile(path), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
  writer.CloseIfOpen();  // nothing open: must not fail or remove anything
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});

  ASSERT_TRUE(writer.Write(path, table));
  EXPECT_EQ(Lines(*ReadWholeFile(path)).size(), 103u);
}

TEST(MapScriptWriteWin32, UnwritablePlacesFailAndLeaveNothing) {
  ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  Store(table, Station("JA1ABC", "0", "90", "10"));
  ASSERT_TRUE(CreateDirectoryA((dir / "0.mps").c_str(), nullptr));  // a directory in the way
  MapScriptWriter writer;
  for (const std::string& path : {dir / "missing\\0.mps", dir / "0.mps"}) {
    EXPECT_FALSE(writer.Write(path, table)) << path;
    EXPECT_FALSE(writer.lastError().empty()) << path;
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
  ScratchDirectory dir;
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
    const std::string end = "mapserver end;\r\n";
    const std::string message = "message str=\" ";
    while (!done.load()) {
      const std::optional<std::string> file = ReadWholeFile(path);
      if (!file) {
        firstBad = "(missing)";
        return;
      }
      const std::size_t at = file->rfind(message);
      const int count =
          at == std::string::npos ? -1 : std::atoi(file->c_str() + at + message.size());
      if (count < 1 || Lines(*file).size() != 101u + count ||
          file->compare(file->size() - end.size(), end.size(), end) != 0) {
        firstBad = *file;
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
      {
        std::scoped_lock lock(table.mutex());
        table.Clear();
      }
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
  EXPECT_EQ(Lines(*ReadWholeFile(path)).size(), 102u);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"0.mps"});
}

// Paths from the command line are UTF-8: a folder named in Japanese is made
// and written under that name, not under its bytes read in the system's code page.
TEST(OpenFormatsWin32, Utf8PathsNameTheFiles) {
  ScratchDirectory dir;
  ASSERT_TRUE(dir.ok());
  StationTable table;
  std::scoped_lock lock(table.mutex());
  PendingReport report = Station("JA1ABC", "0", "90", "10");
  report.receivedTime = std::time(nullptr);
  const int slot = table.StoreReport(report);
  const std::string folder = dir / "\xe3\x83\xad\xe3\x82\xb0";  // ログ
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
