// The view: the frame's blank client, and the owner of the radio link's life.
//
// Constructing it reads RIGPLOT.ini, opens the port and creates the receive
// worker without starting it; creating its window starts the worker; the
// destruction of its window stops the worker, closes the port and ends the
// process with status 0. A settings or port failure shows a message box and
// ends the process with status 1 before any window is visible.
// Thread: the UI thread. The worker never touches a window.
#pragma once

#include <memory>

#include "radio/radio_link.h"
#include "web/web_page.h"
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

  // The radio link: port opened by the constructor, worker started by OnCreate.
  std::unique_ptr<RadioLink> m_radioLink;
  // The live map page, when the command line leaves it on and its address is free.
  std::unique_ptr<WebPage> m_webPage;
};

}  // namespace rigplot
