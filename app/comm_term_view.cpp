#include "app/comm_term_view.h"

#include <wx/msgdlg.h>
#include <wx/window.h>

#include <cstdlib>

#include "app/comm_term_app.h"
#include "app/resource.h"
#include "app/trace.h"

namespace rigplot {

namespace {

// Shows a start-up failure with no owner window, the only thing the user
// sees, and ends the process once it is closed. Status 1: it is a failure.
[[noreturn]] void FailStartup(const LinkResult& result) {
  SayStartupFailure(result);
  wxMessageDialog box(nullptr, wxString::FromUTF8(FailureMessage(result.failure)), wxEmptyString,
                      wxOK | wxICON_NONE);
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
  // The view ends the process itself and never destroys the station before that.
  m_station = std::make_unique<Station>(wxGetApp().options(), &TraceLine);
  const LinkResult opened = m_station->Open();
  if (!opened) FailStartup(opened);
}

bool CCommTermView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  m_pWindow = new wxWindow(GetFrame(), wxID_ANY);
  // The view takes its window's events first, as a window of its own would.
  m_pWindow->PushEventHandler(this);
  m_pWindow->SetFocus();
  const LinkResult started = m_station->Start();
  if (!started) FailStartup(started);
  Trace("worker started");
  if (m_station->page()) Trace("page %s", m_station->page()->url().c_str());
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
  const bool ended = m_station->Stop();
  Trace("view OnDestroy: stopped after %llu reports%s",
        static_cast<unsigned long long>(m_station->reportsStored()),
        ended ? "" : " (the receive thread did not end)");
  std::exit(0);
}

void CCommTermView::OnTableClear(wxCommandEvent&) {
  m_station->ClearTable();  // the map script waits for the next report
  Trace("table cleared");
}

}  // namespace rigplot
