// SPDX-License-Identifier: MIT
// The view: the frame's blank client, and the owner of the station's life.
//
// Constructing it reads RIGPLOT.ini, opens the port and creates the receive
// worker without starting it; creating its window starts the worker; the
// destruction of its window stops the worker, closes the port and ends the
// process with status 0. A settings or port failure shows a message box and
// ends the process with status 1 before any window is visible.
// Thread: the UI thread. The worker never touches a window.
#pragma once

#include <memory>

#include "station/station.h"
#include "win32/doc_framework.h"

namespace rigplot {

class CCommTermView : public CView {
 public:
  static const CRuntimeClass kRuntimeClass;

  CCommTermView();
  bool OnCmdMsg(UINT id) override;

 private:
  int OnCreate(const CREATESTRUCTW* cs) override;
  void OnDestroy() override;
  void OnTableClear();

  // The station: port opened by the constructor, worker started by OnCreate.
  std::unique_ptr<Station> m_station;
};

}  // namespace rigplot
