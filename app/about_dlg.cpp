#include "app/about_dlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/font.h>
#include <wx/icon.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/resource.h"
#include "app/trace.h"

namespace rigplot {

namespace {

wxRect ToPixels(wxWindow* dialog, const DialogRect& r) {
  return wxRect(dialog->ConvertDialogToPixels(wxPoint(r.x, r.y)),
                dialog->ConvertDialogToPixels(wxSize(r.cx, r.cy)));
}

}  // namespace

wxIMPLEMENT_DYNAMIC_CLASS(CAboutDlg, wxDialog);

CAboutDlg::CAboutDlg(wxWindow* pParent)
    : wxDialog(pParent != nullptr ? pParent : wxTheApp->GetTopWindow(), IDD_ABOUTBOX,
               ResourceText(kAboutCaption), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX) {
  // Dialog units follow the dialog's font, so it is set before any layout.
  // Where that face is missing, fontconfig's nearest Japanese face stands in.
  SetFont(wxFontInfo(kAboutFontPoints)
              .Family(wxFONTFAMILY_SWISS)
              .FaceName(ResourceText(kAboutFontFace)));
  SetClientSize(ToPixels(this, kAboutRect).GetSize());

  const wxRect iconRect = ToPixels(this, kAboutIconRect);
  new wxStaticBitmap(this, wxID_ANY, LoadMainIcon().GetIcon(32), iconRect.GetPosition(),
                     iconRect.GetSize());

  // No mnemonic processing: an "&" in the text is shown as it is.
  const wxRect textRect = ToPixels(this, kAboutTextRect);
  auto* text = new wxStaticText(this, wxID_ANY, wxEmptyString, textRect.GetPosition(),
                                textRect.GetSize(), wxALIGN_LEFT | wxST_NO_AUTORESIZE);
  text->SetLabelText(ResourceText(kAboutText));

  const wxRect okRect = ToPixels(this, kAboutOkRect);
  auto* ok =
      new wxButton(this, wxID_OK, ResourceText(kAboutOk), okRect.GetPosition(), okRect.GetSize());
  ok->SetDefault();
  ok->SetFocus();

  CentreOnParent();
  Trace("about box %dx%d, icon %d,%d %dx%d, text %d,%d %dx%d, ok %d,%d %dx%d", GetClientSize().x,
        GetClientSize().y, iconRect.x, iconRect.y, iconRect.width, iconRect.height, textRect.x,
        textRect.y, textRect.width, textRect.height, okRect.x, okRect.y, okRect.width,
        okRect.height);
}

}  // namespace rigplot
