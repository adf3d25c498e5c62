#include "win32/comm_term_app.h"

#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "desktop/trace.h"
#include "win32/about_dlg.h"
#include "win32/comm_term_doc.h"
#include "win32/comm_term_view.h"
#include "win32/main_frame.h"
#include "win32/resource.h"
#include "win32/text.h"

namespace rigplot {

namespace {

CCommTermApp theApp;

}  // namespace

bool CCommTermApp::InitInstance() {
  EnableTraceFromEnvironment();
  // Our own options, shared with the service; help, version and a wrong
  // command line end the program before any window or port is opened.
  std::vector<std::string> args;
  int argc = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
    LocalFree(argv);
  }
  m_options = ParseCommandLine(args);
  const int answered = AnswerWithoutRunning(m_options, "rigplot");
  if (answered >= 0) std::exit(answered);

  SetRegistryKey(L"Local AppWizard-Generated Applications");
  LoadStdProfileSettings(4);

  m_pDocTemplate = std::make_unique<CSingleDocTemplate>(IDR_MAINFRAME, &CCommTermDoc::kRuntimeClass,
                                                        &CMainFrame::kRuntimeClass,
                                                        &CCommTermView::kRuntimeClass);

  // The command line asks for nothing here: a new document.
  if (!ProcessShellCommand()) return false;

  ShowWindow(m_pMainWnd->m_hWnd, SW_SHOW);
  UpdateWindow(m_pMainWnd->m_hWnd);
  RECT shown{};
  GetWindowRect(m_pMainWnd->m_hWnd, &shown);
  Trace("frame shown %ldx%ld at (%ld,%ld)", shown.right - shown.left, shown.bottom - shown.top,
        shown.left, shown.top);
  return true;
}

// The profile's place under HKEY_CURRENT_USER, named after the application
// title. The program stores nothing of its own there.
void CCommTermApp::SetRegistryKey(const wchar_t* key) {
  m_pszProfileKey =
      std::wstring(L"Software\\") + key + L"\\" + LoadResourceString(AFX_IDS_APP_TITLE);
}

// A recent-file list of `maxMRU` entries, read from the profile; the menu
// has no place for it, so it is never shown.
void CCommTermApp::LoadStdProfileSettings(unsigned maxMRU) {
  m_pRecentFileList.clear();
  HKEY list = nullptr;
  const std::wstring path = m_pszProfileKey + L"\\Recent File List";
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &list) != ERROR_SUCCESS) return;
  for (unsigned i = 1; i <= maxMRU; ++i) {
    wchar_t value[MAX_PATH];
    DWORD size = sizeof value;
    const std::wstring name = L"File" + std::to_wstring(i);
    if (RegGetValueW(list, nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) ==
        ERROR_SUCCESS) {
      m_pRecentFileList.emplace_back(value);
    }
  }
  RegCloseKey(list);
}

// A new document through the one template; its frame becomes the main window.
bool CCommTermApp::ProcessShellCommand() {
  if (m_pDocTemplate->OpenDocumentFile() == nullptr) return false;
  m_pMainWnd = m_pDocTemplate->frame();
  return true;
}

bool CCommTermApp::OnCmdMsg(UINT id) {
  switch (id) {
    case ID_APP_ABOUT:
      OnAppAbout();
      return true;
    case ID_APP_EXIT:
      OnAppExit();
      return true;
    default:
      Trace("command %u unhandled", id);
      return false;
  }
}

void CCommTermApp::OnAppAbout() {
  CAboutDlg aboutDlg;
  Trace("about box opened");
  const INT_PTR result = aboutDlg.DoModal();
  Trace("about box closed with %d", static_cast<int>(result));
}

// The framework's exit command: close the main window.
void CCommTermApp::OnAppExit() {
  if (m_pMainWnd != nullptr) SendMessageW(m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
}

}  // namespace rigplot

// The program's entry: start-up, then the message loop. A start-up that
// fails ends with status 1; a normal close ends inside the view's
// destruction with status 0.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  rigplot::CWinApp* app = rigplot::AfxGetApp();
  if (!app->InitInstance()) return 1;
  return app->Run();
}
