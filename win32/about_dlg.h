// SPDX-License-Identifier: MIT
// The about box: icon, program name and version, and an OK button, from the
// template IDD_ABOUTBOX. OK, Enter, Esc and the close box end it; the worker
// goes on meanwhile. Thread: the UI thread.
#pragma once

#include "win32/doc_framework.h"

namespace rigplot {

class CAboutDlg : public CDialog {
 public:
  // Owned by the main window, and centred over it.
  CAboutDlg();

 private:
  BOOL OnInitDialog() override;
};

}  // namespace rigplot
