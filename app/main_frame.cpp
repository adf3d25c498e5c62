#include "app/main_frame.h"

#include <wx/display.h>

#include "app/trace.h"

namespace rigplot {

wxIMPLEMENT_DYNAMIC_CLASS(CMainFrame, CFrameWnd);

wxBEGIN_EVENT_TABLE(CMainFrame, CFrameWnd)
EVT_SHOW(CMainFrame::OnShow)
EVT_MOVE(CMainFrame::OnMove)
EVT_SIZE(CMainFrame::OnSize)
EVT_ACTIVATE(CMainFrame::OnActivate)
wxEND_EVENT_TABLE()

bool CMainFrame::PreCreateWindow(CreateStruct& cs) {
  if (!CFrameWnd::PreCreateWindow(cs)) return false;
  // The whole primary screen, panels included: the frame's place is a
  // fraction of it.
  const wxRect screen = wxDisplay().GetGeometry();
  m_createRect = MainFrameRect(screen.width, screen.height);
  cs.cy = m_createRect.cy;
  cs.cx = m_createRect.cx;
  cs.y = m_createRect.y;
  cs.x = m_createRect.x;
  Trace("frame PreCreateWindow %dx%d at (%d,%d) on %dx%d", cs.cx, cs.cy, cs.x, cs.y, screen.width,
        screen.height);
  return true;
}

int CMainFrame::OnCreate(CCreateContext& context) {
  if (CFrameWnd::OnCreate(context) == -1) return -1;
  // The menu is the frame's only bar.
  return 0;
}

void CMainFrame::OnShow(wxShowEvent& event) {
  event.Skip();
  if (!event.IsShown() || m_shownOnce) return;
  m_shownOnce = true;
  m_placing = true;
  CallAfter(&CMainFrame::PlaceAgainIfMoved);
}

void CMainFrame::OnMove(wxMoveEvent& event) {
  event.Skip();
  if (m_placing) CallAfter(&CMainFrame::PlaceAgainIfMoved);
}

void CMainFrame::OnSize(wxSizeEvent& event) {
  event.Skip();
  if (m_placing) CallAfter(&CMainFrame::PlaceAgainIfMoved);
}

void CMainFrame::OnActivate(wxActivateEvent& event) {
  event.Skip();
  if (!m_placing || !event.GetActive()) return;
  PlaceAgainIfMoved();
  m_placing = false;
}

// The first time unconditionally: wx may report the place asked for while
// the frame is elsewhere.
void CMainFrame::PlaceAgainIfMoved() {
  if (m_placements >= kMaxPlacements) return;
  const wxRect now = GetRect();
  if (now == wxRect(m_createRect.x, m_createRect.y, m_createRect.cx, m_createRect.cy) &&
      m_placements > 0) {
    return;
  }
  ++m_placements;
  Trace("frame at %dx%d (%d,%d), placed again", now.width, now.height, now.x, now.y);
  SetSize(m_createRect.x, m_createRect.y, m_createRect.cx, m_createRect.cy);
}

}  // namespace rigplot
