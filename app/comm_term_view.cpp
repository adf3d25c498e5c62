#include "app/comm_term_view.h"

#include <wx/msgdlg.h>
#include <wx/window.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/comm_term_app.h"
#include "app/resource.h"
#include "app/trace.h"
#include "radio/file_outputs.h"

namespace rigplot {

namespace {

// Shows a start-up failure with no owner window, the only thing the user
// sees, and ends the process once it is closed. Status 1: it is a failure.
[[noreturn]] void FailStartup(const LinkResult& result) {
  // The settings message says it all; a port or thread failure has an OS reason.
  if (result.failure == LinkFailure::kPortNotOpened) {
    std::fprintf(stderr, "rigplot: cannot open %s\n", result.osError.c_str());
  } else if (result.failure == LinkFailure::kWorkerNotStarted) {
    std::fprintf(stderr, "rigplot: cannot start the receive thread: %s\n", result.osError.c_str());
  }
  wxMessageDialog box(nullptr, wxString::FromUTF8(FailureMessage(result.failure)), wxEmptyString,
                      wxOK | wxICON_NONE);
  box.ShowModal();
  std::exit(1);
}

// The desktop program says nothing of the link's changes but to the trace.
void TraceLine(const std::string& line) {
  Trace("%s", line.c_str());
}

}  // namespace

wxIMPLEMENT_DYNAMIC_CLASS(CCommTermView, wxView);

wxBEGIN_EVENT_TABLE(CCommTermView, wxView)
EVT_WINDOW_DESTROY(CCommTermView::OnDestroy)
EVT_MENU(ID_TABLE_CLEAR, CCommTermView::OnTableClear)
wxEND_EVENT_TABLE()

CCommTermView::CCommTermView() {
  Trace("view constructed");
  // The view ends the process itself and never destroys the link before that.
  m_radioLink = std::make_unique<RadioLink>(&TraceLine);
  const CommandLine& options = wxGetApp().options();
  for (auto& output : MakeFileOutputs(options)) m_radioLink->AddOutput(std::move(output));
  const LinkResult opened = m_radioLink->Open();
  if (!opened) FailStartup(opened);
  // Without its address the page is left out; the link runs as before.
  m_webPage = StartWebPage(*m_radioLink, options, &TraceLine);
}

bool CCommTermView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  m_pWindow = new wxWindow(GetFrame(), wxID_ANY);
  // The view takes its window's events first, as a window of its own would.
  m_pWindow->PushEventHandler(this);
  m_pWindow->SetFocus();
  const LinkResult started = m_radioLink->Start();
  if (!started) FailStartup(started);
  Trace("worker started");
  if (m_webPage) {
    m_webPage->Serve();
    Trace("page %s", m_webPage->url().c_str());
  }
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
  if (m_webPage) m_webPage->Stop();
  const bool ended = m_radioLink->Stop();
  Trace("view OnDestroy: stopped after %llu reports%s",
        static_cast<unsigned long long>(m_radioLink->reportsStored()),
        ended ? "" : " (the receive thread did not end)");
  std::exit(0);
}

void CCommTermView::OnTableClear(wxCommandEvent&) {
  m_radioLink->ClearTable();  // the map script waits for the next report
  Trace("table cleared");
}

}  // namespace rigplot
