// SPDX-License-Identifier: MIT
// The view: the frame's blank client, and the owner of the station's life.
//
// Constructing it reads RIGPLOT.ini, opens the port and creates the receive
// worker without starting it; creating its window starts the worker; the
// destruction of its window stops the worker, closes the port and ends the
// process. A settings or port failure shows a message box and ends the
// process with status 1 before any window is visible.
// Thread: the UI thread. The worker never touches a window.
#pragma once

#include <wx/docview.h>

#include <memory>

#include "station/station.h"

namespace rigplot {

class CCommTermView : public wxView {
 public:
  CCommTermView();

  // The view's window is created here, wx's moment for it; its creation
  // starts the worker, so the worker runs before the frame is first shown.
  bool OnCreate(wxDocument* doc, long flags) override;

  // The client area shows only its background.
  void OnDraw(wxDC* dc) override;

  // The document is closing: the view's window goes, and with it the process.
  bool OnClose(bool deleteWindow) override;

  // The frame's caption, composed as the framework does: "無題 - RIGPLOT".
  void OnChangeFilename() override;

 private:
  void OnDestroy(wxWindowDestroyEvent& event);
  void OnTableClear(wxCommandEvent& event);

  // The station: port opened by the constructor, worker started by OnCreate.
  std::unique_ptr<Station> m_station;
  wxWindow* m_pWindow = nullptr;  // the client window, owned by the frame

  wxDECLARE_DYNAMIC_CLASS(CCommTermView);
  wxDECLARE_EVENT_TABLE();
};

}  // namespace rigplot
