// SPDX-License-Identifier: MIT
// The application object: start-up, and the about and exit commands.
//
// A menu command goes to the view first, then the frame, then here: the
// document frame hands commands to the document manager, which offers them
// to the view before the frame's own handlers, and wx gives the application
// whatever the frame leaves.
// Thread: the UI thread.
#pragma once

#include <wx/app.h>
#include <wx/filehistory.h>

#include <memory>

#include "app/doc_framework.h"
#include "station/command_line.h"

namespace rigplot {

class CCommTermApp : public wxApp {
 public:
  CCommTermApp();

  bool OnInit() override;

  // The command line, read before anything opens.
  const CommandLine& options() const { return m_options; }

 protected:
  bool TryAfter(wxEvent& event) override;

 private:
  bool InitInstance();
  void SetRegistryKey(const wxString& key);
  void LoadStdProfileSettings(unsigned maxMRU);
  bool ProcessShellCommand();

  void OnAppAbout(wxCommandEvent& event);
  void OnAppExit(wxCommandEvent& event);

  std::unique_ptr<CDocManager> m_pDocManager;
  std::unique_ptr<wxFileHistory> m_pRecentFileList;
  CFrameWnd* m_pMainWnd = nullptr;
  CommandLine m_options;

  wxDECLARE_EVENT_TABLE();
};

}  // namespace rigplot

wxDECLARE_APP(rigplot::CCommTermApp);
