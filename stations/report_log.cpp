#include "stations/report_log.h"

#include <cstdio>

#include "report/local_time.h"
#include "stations/report_fields.h"
#include "stations/station_view.h"
#include "stations/text_escape.h"

namespace rigplot {

std::string_view ReportLogHeader() {
  return "received_at,callsign,repeater,symbol,latitude,longitude,speed_kmh,course,utc_date,"
         "utc_time,message\r\n";
}

void AppendReportLogLine(std::string& out, const StationView& station) {
  char text[kFieldTextSize];
  out += station.receivedIso;
  out += ',';
  AppendCsvField(out, station.callsign);
  out += ',';
  AppendCsvField(out, station.repeater);
  out += ',';
  AppendCsvField(out, station.symbol);
  out += ',';
  if (station.hasPosition) {
    out.append(text, FormatDegrees(station.latitude, text));
    out += ',';
    out.append(text, FormatDegrees(station.longitude, text));
  } else {
    out += ',';
  }
  out += ',';
  out.append(text, FormatFiniteKmh(station.speedKmh, text));
  out += ',';
  if (station.hasCourse) out.append(text, FormatNumber(station.course, text));
  out += ',';
  AppendCsvField(out, station.utcDate);
  out += ',';
  AppendCsvField(out, station.utcTime);
  out += ',';
  AppendCsvField(out, station.message);
  out += "\r\n";
}

std::string ReportLog::PathFor(std::time_t t) const {
  std::tm local{};
  if (t == static_cast<std::time_t>(-1) || !ToLocalTime(t, local)) return {};
  char name[64];
  std::snprintf(name, sizeof name, "rigplot-%04d-%02d-%02d.csv", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday);
  std::string path = m_dir;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

bool ReportLog::Publish(const StationTable& table, int slot, std::string& osError) {
  return Append(table.view(slot), table.slot(slot).receivedTime, osError);
}

bool ReportLog::Append(const StationView& view, std::time_t received, std::string& osError) {
  std::string path = PathFor(received);
  // With no clock reading, the line goes where the last one went, else to
  // today's file.
  if (path.empty()) path = m_file.isOpen() ? m_openPath : PathFor(std::time(nullptr));
  if (path.empty()) {
    osError = "the local date cannot be read";
    return false;
  }
  m_line.clear();
  if (!m_file.isOpen() || path != m_openPath) {
    m_file.Close();
    if (!MakeDirectories(m_dir, osError)) return false;
    std::uint64_t size = 0;
    if (!m_file.Open(path, size, osError)) return false;
    m_openPath = path;
    if (size == 0) m_line += ReportLogHeader();
  }
  AppendReportLogLine(m_line, view);
  if (m_file.Append(m_line, osError)) return true;
  osError = m_openPath + ": " + osError;
  // Opened again at the next report, which cuts away any part of this line.
  m_file.Close();
  return false;
}

}  // namespace rigplot
