#include "app/comm_term_app.h"

#include <wx/config.h>
#include <wx/stdpaths.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "app/comm_term_doc.h"
#include "app/comm_term_view.h"
#include "app/main_frame.h"
#include "app/resource.h"
#include "app/trace.h"

wxIMPLEMENT_APP_NO_MAIN(rigplot::CCommTermApp);

namespace rigplot {

wxBEGIN_EVENT_TABLE(CCommTermApp, wxApp)
EVT_MENU(ID_APP_ABOUT, CCommTermApp::OnAppAbout)
EVT_MENU(ID_APP_EXIT, CCommTermApp::OnAppExit)
wxEND_EVENT_TABLE()

// The application takes its title as its name; wx names the configuration
// folder after it.
CCommTermApp::CCommTermApp() {
  SetAppName(ResourceText(kAppTitle));
  SetAppDisplayName(ResourceText(kAppTitle));
}

bool CCommTermApp::OnInit() {
  InstallTestHooks();
  // main has answered help, version and a wrong command line already.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(argv[i].ToStdString(wxConvUTF8));
  m_options = ParseCommandLine(args);
  return InitInstance();
}

bool CCommTermApp::InitInstance() {
  SetRegistryKey("Local AppWizard-Generated Applications");
  LoadStdProfileSettings(4);

  // The template goes to the document manager, which owns it from then on.
  m_pDocManager = std::make_unique<CDocManager>();
  m_pDocManager->SetMaxDocsOpen(1);
  new CSingleDocTemplate(m_pDocManager.get(), IDR_MAINFRAME, wxCLASSINFO(CCommTermDoc),
                         wxCLASSINFO(CMainFrame), wxCLASSINFO(CCommTermView));

  if (!ProcessShellCommand()) return false;

  m_pMainWnd->Show(true);
  m_pMainWnd->Update();
  return true;
}

// The profile lives in the user's configuration directory rather than a
// registry; the program stores nothing of its own there.
void CCommTermApp::SetRegistryKey(const wxString& key) {
  SetVendorName(key);
  wxStandardPaths::Get().SetFileLayout(wxStandardPaths::FileLayout_XDG);
  wxConfigBase::Set(new wxConfig(GetAppName(), GetVendorName(), wxEmptyString, wxEmptyString,
                                 wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_SUBDIR));
}

// A recent-file list with room for `maxMRU` entries; the menu has no place
// for it, so it is never shown.
void CCommTermApp::LoadStdProfileSettings(unsigned maxMRU) {
  m_pRecentFileList = std::make_unique<wxFileHistory>(maxMRU);
  m_pRecentFileList->Load(*wxConfigBase::Get());
}

// With no argument: a new document, its frame made the main window and shown.
bool CCommTermApp::ProcessShellCommand() {
  wxDocument* doc = m_pDocManager->CreateNewDocument();
  if (doc == nullptr) return false;
  m_pMainWnd = dynamic_cast<CFrameWnd*>(doc->GetFirstView()->GetFrame());
  if (m_pMainWnd == nullptr) return false;
  SetTopWindow(m_pMainWnd);
  m_pMainWnd->Show(true);
  Trace("frame shown");
  return true;
}

void CCommTermApp::OnAppAbout(wxCommandEvent&) {
  CAboutDlg aboutDlg;
  Trace("about box opened");
  const int result = aboutDlg.ShowModal();
  Trace("about box closed with %d", result);
}

// The framework's exit command: close the main window.
void CCommTermApp::OnAppExit(wxCommandEvent&) {
  if (m_pMainWnd != nullptr) m_pMainWnd->Close();
}

// The end of the command route. Nothing here handles the accelerators'
// commands; the trace shows that they came and went.
bool CCommTermApp::TryAfter(wxEvent& event) {
  if (event.GetEventType() == wxEVT_MENU) {
    const char* name = CommandName(event.GetId());
    Trace("command %s unhandled", name != nullptr ? name : "?");
  }
  return wxApp::TryAfter(event);
}

}  // namespace rigplot

// Help, version and a wrong command line are answered before the toolkit
// starts, so they work without a display too.
int main(int argc, char** argv) {
  const rigplot::CommandLine options =
      rigplot::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const int answered = rigplot::AnswerWithoutRunning(options, "rigplot");
  if (answered >= 0) return answered;
  return wxEntry(argc, argv);
}
