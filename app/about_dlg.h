// SPDX-License-Identifier: MIT
// The about box: icon, program name and version, and an OK button.
// OK, Enter, Esc and the close box end it; the worker goes on meanwhile.
// Thread: the UI thread.
#pragma once

#include <wx/dialog.h>

namespace rigplot {

class CAboutDlg : public wxDialog {
 public:
  // Without a parent the main window becomes the owner, and the box is
  // centred over it.
  explicit CAboutDlg(wxWindow* pParent = nullptr);

 private:
  wxDECLARE_DYNAMIC_CLASS(CAboutDlg);
};

}  // namespace rigplot
