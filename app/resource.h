// The desktop program's resources: ids, texts, menu, accelerators, icon and
// the about box's template, as one resource script would hold them.
//
// Texts are UTF-8 and shown exactly as written here. Thread: the UI thread.
#pragma once

#include <wx/accel.h>
#include <wx/defs.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

class wxMenuBar;

namespace rigplot {

// Resource ids.
enum : int {
  IDD_ABOUTBOX = 100,
  IDR_MAINFRAME = 128,
};

// Command ids. wx keeps menu ids below 0x7FFF, so the numbers are ours; the
// names are the ones the commands have always had.
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
inline constexpr char kAppTitle[] = "RIGPLOT";    // application and window title
inline constexpr char kUntitledTitle[] = "無題";  // a new document's title

// Menu captions; "&" marks the mnemonic.
inline constexpr char kMenuExit[] = "終了(&X)";
inline constexpr char kMenuExitItem[] = "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)";
inline constexpr char kMenuSettings[] = "設定(&S)";
inline constexpr char kMenuTableClearItem[] = "テーブルクリアー(&C)";
inline constexpr char kMenuHelp[] = "ﾍﾙﾌﾟ(&H)";
inline constexpr char kMenuAboutItem[] = "RIGPLOTインターフェース\u3000V.00.3";

// About box template IDD_ABOUTBOX; positions and sizes in dialog units.
inline constexpr char kAboutCaption[] = "RIGPLOTのﾊﾞｰｼﾞｮﾝ情報";
inline constexpr char kAboutText[] = "RIGPLOT インターフェース V.00.3";
inline constexpr char kAboutOk[] = "OK";
inline constexpr char kAboutFontFace[] = "ＭＳ Ｐゴシック";
inline constexpr int kAboutFontPoints = 9;
struct DialogRect {
  int x, y, cx, cy;
};
inline constexpr DialogRect kAboutRect{0, 0, 231, 54};  // placed over the owner
inline constexpr DialogRect kAboutIconRect{13, 15, 20, 20};
inline constexpr DialogRect kAboutTextRect{44, 10, 119, 8};
inline constexpr DialogRect kAboutOkRect{174, 7, 50, 14};

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
