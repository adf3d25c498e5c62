#include "win32/comm_term_view.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "radio/port_settings.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"
#include "win32/resource.h"
#include "win32/text.h"
#include "win32/trace.h"

namespace rigplot {

namespace {

// The radio link's state lives as long as the process: the view ends the
// process itself and never runs their destructors before that.
PortConfig g_portConfig;
SerialPort g_commPort;
ReportParser g_reportParser;
StationTable g_stationTable;
MapScriptWriter g_mapScriptWriter;

// Shows a start-up failure with no owner window, the only thing the user
// sees, and ends the process once it is closed. Status 1: it is a failure.
[[noreturn]] void FailStartup(const char* message) {
  Trace("start-up failed: %s", message);
  MessageBoxW(nullptr, Wide(message).c_str(), L"", MB_OK);
  std::exit(1);
}

}  // namespace

const CRuntimeClass CCommTermView::kRuntimeClass{"CCommTermView", &CreateObjectOf<CCommTermView>};

CCommTermView::CCommTermView() {
  Trace("view constructed");
  // The stop flag belongs to the worker, which starts with it clear.
  g_reportParser.reset();
  if (!LoadPortSettings(g_portConfig)) FailStartup(kSettingsMissingMessage);
  std::string osError;
  if (!g_commPort.Open(g_portConfig.portPath, g_portConfig.baudRate, &osError)) {
    std::fprintf(stderr, "rigplot: cannot open %s: %s\n", g_portConfig.portPath.c_str(),
                 osError.c_str());
    FailStartup(kPortOpenFailedMessage);
  }
  m_pReceiveThread = std::make_unique<ReceiveWorker>(g_commPort, g_portConfig, g_reportParser,
                                                     g_stationTable, g_mapScriptWriter);
}

// The worker runs from here on, before the frame is first shown.
int CCommTermView::OnCreate(const CREATESTRUCTW* cs) {
  if (CView::OnCreate(cs) == -1) return -1;
  if (!m_pReceiveThread->Start()) {
    std::fprintf(stderr, "rigplot: cannot start the receive thread\n");
    return -1;
  }
  Trace("worker started");
  return 0;
}

// The stop sequence. The worker finishes the block it is in, with every store
// and rewrite, before Stop returns; the map script stays on disk.
void CCommTermView::OnDestroy() {
  CView::OnDestroy();
  m_pReceiveThread->Stop();
  const auto reports = m_pReceiveThread->reportsStored();
  m_pReceiveThread.reset();
  g_commPort.Close();
  g_mapScriptWriter.CloseIfOpen();
  Trace("view OnDestroy: stopped after %llu reports", static_cast<unsigned long long>(reports));
  std::exit(0);
}

bool CCommTermView::OnCmdMsg(UINT id) {
  if (id != ID_TABLE_CLEAR) return false;
  OnTableClear();
  return true;
}

void CCommTermView::OnTableClear() {
  {
    // The map script waits for the next report.
    std::scoped_lock lock(g_stationTable.mutex());
    g_stationTable.Clear();
  }
  Trace("table cleared");
}

}  // namespace rigplot
