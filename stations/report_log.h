// SPDX-License-Identifier: MIT
// The report log: every stored report appended as one CSV line (RFC 4180,
// UTF-8, CR LF) to DIR/rigplot-YYYY-MM-DD.csv, by the local date of
// reception, with a header line at the top of each file.
//
// Owns: the open day file and the date it is for.
// Invariants: nothing already in a file is rewritten: files are opened for
// appending only, a header goes only into an empty file, and a line cut off
// by a failed write is cut away before the next one (a reader would take the
// lines after a cut quoted field into it). Each line is handed to the OS
// before Publish returns.
// Thread: the receive worker, holding the table's lock; Close after it ended.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "stations/station_output.h"
#include "stations/station_table.h"

namespace rigplot {

struct StationView;

// Per OS: a file opened for appending only, paths in UTF-8. False results
// come with the OS's text.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile() { Close(); }

  // Opens `path`, making it when missing, and cuts away whatever follows its
  // last line feed. `size` gets the length left.
  bool Open(const std::string& path, std::uint64_t& size, std::string& error);
  // Writes all of `bytes` at the end of the file.
  bool Append(std::string_view bytes, std::string& error);
  void Close();
  bool isOpen() const { return m_handle != kClosed; }

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t m_handle = kClosed;  // descriptor or HANDLE
};

// Per OS: makes the directory and its parents where missing.
bool MakeDirectories(const std::string& dir, std::string& error);

// The header line, CR LF included.
std::string_view ReportLogHeader();

// Appends the CSV line of one station's report, CR LF included.
void AppendReportLogLine(std::string& out, const StationView& station);

class ReportLog : public StationOutput {
 public:
  explicit ReportLog(std::string dir) : m_dir(std::move(dir)) {}

  std::string name() const override { return m_dir; }
  bool Publish(const StationTable& table, int slot, std::string& osError) override;
  // One report decoded elsewhere (a hub's), received at `received`.
  bool Append(const StationView& view, std::time_t received, std::string& osError);
  void Reopen() override { m_file.Close(); }
  void Close() override { m_file.Close(); }

  // The file a report received at `t` goes to; empty when the clock reading
  // does not convert.
  std::string PathFor(std::time_t t) const;

 private:
  std::string m_dir;  // UTF-8
  AppendFile m_file;
  std::string m_openPath;  // the file m_file has open
  std::string m_line;
};

}  // namespace rigplot
