// SPDX-License-Identifier: MIT
// The document: empty. It exists because the single-document model needs
// one; nothing ever marks it modified, so closing never asks to save.
// Thread: the UI thread.
#pragma once

#include <wx/docview.h>

namespace rigplot {

class CCommTermDoc : public wxDocument {
 public:
  CCommTermDoc();

  bool OnNewDocument() override;

  // Nothing to load or store: wxDocument's LoadObject and SaveObject read
  // and write nothing.

 private:
  wxDECLARE_DYNAMIC_CLASS(CCommTermDoc);
};

}  // namespace rigplot
