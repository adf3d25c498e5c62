// SPDX-License-Identifier: MIT
// The main window: a small frame in the middle of the primary screen, with
// the menu and no tool bar or status bar. Its client is the view.
// Thread: the UI thread.
#pragma once

#include "app/doc_framework.h"
#include "desktop/frame_geometry.h"

namespace rigplot {

class CMainFrame : public CFrameWnd {
 public:
  CMainFrame() = default;

 private:
  bool PreCreateWindow(CreateStruct& cs) override;
  int OnCreate(CCreateContext& context) override;

  // A new GTK frame comes up with the decorations added to the size asked
  // for, and some window managers put it at (0,0) while wx reports the place
  // asked for. From the first show until the frame is first activated (by
  // then the manager has placed it), the rectangle is set again whenever the
  // frame is found elsewhere or at another size.
  void OnShow(wxShowEvent& event);
  void OnMove(wxMoveEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnActivate(wxActivateEvent& event);
  void PlaceAgainIfMoved();
  void ApplyCreateRect();

  static constexpr int kMaxPlacements = 5;  // never fight a manager that insists
  FrameRect m_createRect;                   // where PreCreateWindow put the frame
  bool m_shownOnce = false;
  bool m_placing = false;
  int m_placements = 0;

  wxDECLARE_DYNAMIC_CLASS(CMainFrame);
  wxDECLARE_EVENT_TABLE();
};

}  // namespace rigplot
