// SPDX-License-Identifier: MIT
// The desktop program's resources: ids, texts, menu, accelerators, icon and
// the about box's template. The texts and the about box layout come from
// desktop/captions.h, which the Windows program's resource script reads too.
//
// Texts are UTF-8 and shown exactly as written there. Thread: the UI thread.
#pragma once

#include <wx/accel.h>
#include <wx/defs.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

#include "desktop/captions.h"

class wxMenuBar;

namespace rigplot {

// Resource ids.
enum : int {
  IDD_ABOUTBOX = 100,
  IDR_MAINFRAME = 128,
};

// Command ids. wx keeps menu ids below 0x7FFF, so the numbers are ours; the
// names are the ones the traces and the Windows program use.
enum : int {
  ID_APP_ABOUT = wxID_HIGHEST + 1,
  ID_APP_EXIT,
  ID_TABLE_CLEAR,
  // Reached only through the accelerator table; nothing serves them.
  ID_FILE_NEW,
  ID_FILE_OPEN,
  ID_FILE_SAVE,
  ID_EDIT_UNDO,
  ID_EDIT_CUT,
  ID_EDIT_COPY,
  ID_EDIT_PASTE,
  ID_NEXT_PANE,
  ID_PREV_PANE,
};

// The command's name, for traces; nullptr for an id that is not ours.
const char* CommandName(int id);

// String table.
inline constexpr char kAppTitle[] = RIGPLOT_APP_TITLE;  // application and window title
inline constexpr char kUntitledTitle[] = RIGPLOT_UNTITLED;

// Menu captions; "&" marks the mnemonic.
inline constexpr char kMenuExit[] = RIGPLOT_MENU_EXIT;
inline constexpr char kMenuExitItem[] = RIGPLOT_MENU_EXIT_ITEM;
inline constexpr char kMenuSettings[] = RIGPLOT_MENU_SETTINGS;
inline constexpr char kMenuTableClearItem[] = RIGPLOT_MENU_TABLE_CLEAR_ITEM;
inline constexpr char kMenuHelp[] = RIGPLOT_MENU_HELP;
inline constexpr char kMenuAboutItem[] = RIGPLOT_MENU_ABOUT_ITEM;

// About box template IDD_ABOUTBOX; positions and sizes in dialog units.
inline constexpr char kAboutCaption[] = RIGPLOT_ABOUT_CAPTION;
inline constexpr char kAboutText[] = RIGPLOT_ABOUT_TEXT;
inline constexpr char kAboutOk[] = RIGPLOT_ABOUT_OK;
inline constexpr char kAboutFontFace[] = RIGPLOT_ABOUT_FONT_FACE;
inline constexpr int kAboutFontPoints = RIGPLOT_ABOUT_FONT_POINTS;
struct DialogRect {
  int x, y, cx, cy;
};
inline constexpr DialogRect kAboutRect{RIGPLOT_ABOUT_RECT};  // placed over the owner
inline constexpr DialogRect kAboutIconRect{RIGPLOT_ABOUT_ICON_RECT};
inline constexpr DialogRect kAboutTextRect{RIGPLOT_ABOUT_TEXT_RECT};
inline constexpr DialogRect kAboutOkRect{RIGPLOT_ABOUT_OK_RECT};

inline wxString ResourceText(const char* utf8) {
  return wxString::FromUTF8(utf8);
}

// Menu IDR_MAINFRAME: three drop-downs of one item each.
wxMenuBar* LoadMainMenu();

// Accelerator table IDR_MAINFRAME: 13 entries, in their order.
inline constexpr int kMainAcceleratorCount = 13;
wxAcceleratorTable LoadMainAccelerators();

// Icon IDR_MAINFRAME in 32 x 32 and 16 x 16.
wxIconBundle LoadMainIcon();

}  // namespace rigplot
