// SPDX-License-Identifier: MIT
// The application object: start-up, and the about and exit commands.
// Thread: the UI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "station/command_line.h"
#include "win32/doc_framework.h"

namespace rigplot {

class CCommTermApp : public CWinApp {
 public:
  bool InitInstance() override;
  bool OnCmdMsg(UINT id) override;

  // The command line, read before anything opens.
  const CommandLine& options() const { return m_options; }

 private:
  void SetRegistryKey(const wchar_t* key);
  void LoadStdProfileSettings(unsigned maxMRU);
  bool ProcessShellCommand();

  void OnAppAbout();
  void OnAppExit();

  std::wstring m_pszProfileKey;  // HKEY_CURRENT_USER\Software\<key>\RIGPLOT
  std::vector<std::wstring> m_pRecentFileList;
  std::unique_ptr<CSingleDocTemplate> m_pDocTemplate;
  CommandLine m_options;
};

}  // namespace rigplot
