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

  // Serialize: loading and storing read and write nothing, which is what
  // wxDocument's LoadObject and SaveObject already do.

 private:
  wxDECLARE_DYNAMIC_CLASS(CCommTermDoc);
};

}  // namespace rigplot
