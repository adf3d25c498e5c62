// SPDX-License-Identifier: MIT
// The document: empty. It exists because the single-document model needs
// one; nothing ever marks it modified, so closing never asks to save.
// Thread: the UI thread.
#pragma once

#include "win32/doc_framework.h"

namespace rigplot {

class CCommTermDoc : public CDocument {
 public:
  static const CRuntimeClass kRuntimeClass;

  CCommTermDoc();
  bool OnNewDocument() override;

  // Serialize: loading and storing read and write nothing.
};

}  // namespace rigplot
