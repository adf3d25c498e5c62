// SPDX-License-Identifier: MIT
// The main window: a small frame in the middle of the primary screen, with
// the menu and no tool bar or status bar. Its client is the view.
// Thread: the UI thread.
#pragma once

#include "win32/doc_framework.h"

namespace rigplot {

class CMainFrame : public CFrameWnd {
 public:
  static const CRuntimeClass kRuntimeClass;

 private:
  bool PreCreateWindow(CREATESTRUCTW& cs) override;
  int OnCreate(const CREATESTRUCTW* cs) override;
};

}  // namespace rigplot
