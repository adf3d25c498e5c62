#include "app/comm_term_view.h"

#include <wx/msgdlg.h>
#include <wx/window.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/resource.h"
#include "app/trace.h"
#include "radio/port_settings.h"
#include "radio/serial_port.h"
#include "report/report_parser.h"
#include "stations/map_script_writer.h"
#include "stations/station_table.h"

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
  wxMessageDialog box(nullptr, wxString::FromUTF8(message), wxEmptyString, wxOK | wxICON_NONE);
  box.ShowModal();
  std::exit(1);
}

}  // namespace

wxIMPLEMENT_DYNAMIC_CLASS(CCommTermView, wxView);

wxBEGIN_EVENT_TABLE(CCommTermView, wxView)
EVT_WINDOW_DESTROY(CCommTermView::OnDestroy)
EVT_MENU(ID_TABLE_CLEAR, CCommTermView::OnTableClear)
wxEND_EVENT_TABLE()

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

bool CCommTermView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  m_pWindow = new wxWindow(GetFrame(), wxID_ANY);
  // The view takes its window's events first, as a window of its own would.
  m_pWindow->PushEventHandler(this);
  m_pWindow->SetFocus();
  if (!m_pReceiveThread->Start()) {
    std::fprintf(stderr, "rigplot: cannot start the receive thread\n");
    // The window goes without the view, which its creator is about to delete.
    m_pWindow->PopEventHandler();
    m_pWindow->Destroy();
    m_pWindow = nullptr;
    return false;
  }
  Trace("worker started");
  return true;
}

void CCommTermView::OnDraw(wxDC*) {}

bool CCommTermView::OnClose(bool deleteWindow) {
  if (!wxView::OnClose(deleteWindow)) return false;
  if (deleteWindow && m_pWindow != nullptr) m_pWindow->Destroy();
  return true;
}

void CCommTermView::OnChangeFilename() {
  if (GetFrame() != nullptr && GetDocument() != nullptr) {
    GetFrame()->SetLabel(GetDocumentManager()->MakeFrameTitle(GetDocument()));
  }
}

// The stop sequence. The worker finishes the block it is in, with every store
// and rewrite, before Stop returns; the map script stays on disk.
void CCommTermView::OnDestroy(wxWindowDestroyEvent& event) {
  if (event.GetEventObject() != m_pWindow) {
    event.Skip();
    return;
  }
  m_pReceiveThread->Stop();
  const auto reports = m_pReceiveThread->reportsStored();
  m_pReceiveThread.reset();
  g_commPort.Close();
  g_mapScriptWriter.CloseIfOpen();
  Trace("view OnDestroy: stopped after %llu reports", static_cast<unsigned long long>(reports));
  std::exit(0);
}

void CCommTermView::OnTableClear(wxCommandEvent&) {
  {
    // The map script waits for the next report.
    std::scoped_lock lock(g_stationTable.mutex());
    g_stationTable.Clear();
  }
  Trace("table cleared");
}

}  // namespace rigplot
