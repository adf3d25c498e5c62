#include <wx/icon.h>
#include <wx/menu.h>

#include "app/resource.h"
#include "desktop/rigplot_16.xpm"
#include "desktop/rigplot_32.xpm"

namespace rigplot {

const char* CommandName(int id) {
  struct Named {
    int id;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {ID_APP_ABOUT, "ID_APP_ABOUT"},     {ID_APP_EXIT, "ID_APP_EXIT"},
      {ID_TABLE_CLEAR, "ID_TABLE_CLEAR"}, {ID_FILE_NEW, "ID_FILE_NEW"},
      {ID_FILE_OPEN, "ID_FILE_OPEN"},     {ID_FILE_SAVE, "ID_FILE_SAVE"},
      {ID_EDIT_UNDO, "ID_EDIT_UNDO"},     {ID_EDIT_CUT, "ID_EDIT_CUT"},
      {ID_EDIT_COPY, "ID_EDIT_COPY"},     {ID_EDIT_PASTE, "ID_EDIT_PASTE"},
      {ID_NEXT_PANE, "ID_NEXT_PANE"},     {ID_PREV_PANE, "ID_PREV_PANE"},
  };
  for (const Named& named : kNames) {
    if (named.id == id) return named.name;
  }
  return nullptr;
}

wxMenuBar* LoadMainMenu() {
  auto* exitMenu = new wxMenu;
  exitMenu->Append(ID_APP_EXIT, ResourceText(kMenuExitItem));
  auto* settingsMenu = new wxMenu;
  settingsMenu->Append(ID_TABLE_CLEAR, ResourceText(kMenuTableClearItem));
  auto* helpMenu = new wxMenu;
  helpMenu->Append(ID_APP_ABOUT, ResourceText(kMenuAboutItem));

  auto* menuBar = new wxMenuBar;
  menuBar->Append(exitMenu, ResourceText(kMenuExit));
  menuBar->Append(settingsMenu, ResourceText(kMenuSettings));
  menuBar->Append(helpMenu, ResourceText(kMenuHelp));
  return menuBar;
}

wxAcceleratorTable LoadMainAccelerators() {
  const wxAcceleratorEntry entries[kMainAcceleratorCount] = {
      {wxACCEL_CTRL, 'N', ID_FILE_NEW},           {wxACCEL_CTRL, 'O', ID_FILE_OPEN},
      {wxACCEL_CTRL, 'S', ID_FILE_SAVE},          {wxACCEL_CTRL, 'Z', ID_EDIT_UNDO},
      {wxACCEL_CTRL, 'X', ID_EDIT_CUT},           {wxACCEL_CTRL, 'C', ID_EDIT_COPY},
      {wxACCEL_CTRL, 'V', ID_EDIT_PASTE},         {wxACCEL_ALT, WXK_BACK, ID_EDIT_UNDO},
      {wxACCEL_SHIFT, WXK_DELETE, ID_EDIT_CUT},   {wxACCEL_CTRL, WXK_INSERT, ID_EDIT_COPY},
      {wxACCEL_SHIFT, WXK_INSERT, ID_EDIT_PASTE}, {wxACCEL_NORMAL, WXK_F6, ID_NEXT_PANE},
      {wxACCEL_SHIFT, WXK_F6, ID_PREV_PANE},
  };
  return wxAcceleratorTable(kMainAcceleratorCount, entries);
}

wxIconBundle LoadMainIcon() {
  wxIconBundle icons;
  icons.AddIcon(wxIcon(rigplot_32_xpm));
  icons.AddIcon(wxIcon(rigplot_16_xpm));
  return icons;
}

}  // namespace rigplot
