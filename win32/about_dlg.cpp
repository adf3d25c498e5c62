#include "win32/about_dlg.h"

#include "desktop/trace.h"
#include "win32/resource.h"

namespace rigplot {

namespace {

// Where a control of the box landed, in the box's client pixels.
RECT ClientRectOf(HWND dialog, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

BOOL CAboutDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  // For the window tests: the template's dialog units as the system laid
  // them out in this font.
  RECT client{};
  GetClientRect(m_hWnd, &client);
  RECT units{0, 0, 231, 54};
  MapDialogRect(m_hWnd, &units);
  const HWND icon = GetWindow(m_hWnd, GW_CHILD);
  const HWND text = icon != nullptr ? GetWindow(icon, GW_HWNDNEXT) : nullptr;
  const RECT iconRect = icon != nullptr ? ClientRectOf(m_hWnd, icon) : RECT{};
  const RECT textRect = text != nullptr ? ClientRectOf(m_hWnd, text) : RECT{};
  const RECT okRect = ClientRectOf(m_hWnd, GetDlgItem(m_hWnd, IDOK));
  Trace(
      "about box %ldx%ld (231x54 units are %ldx%ld), icon %ld,%ld %ldx%ld, text %ld,%ld %ldx%ld, "
      "ok %ld,%ld %ldx%ld",
      client.right, client.bottom, units.right, units.bottom, iconRect.left, iconRect.top,
      iconRect.right - iconRect.left, iconRect.bottom - iconRect.top, textRect.left, textRect.top,
      textRect.right - textRect.left, textRect.bottom - textRect.top, okRect.left, okRect.top,
      okRect.right - okRect.left, okRect.bottom - okRect.top);
  return result;
}

}  // namespace rigplot
