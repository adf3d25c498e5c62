#include "win32/comm_term_doc.h"

#include "win32/trace.h"

namespace rigplot {

const CRuntimeClass CCommTermDoc::kRuntimeClass{"CCommTermDoc", &CreateObjectOf<CCommTermDoc>};

CCommTermDoc::CCommTermDoc() {
  Trace("document constructed");
}

bool CCommTermDoc::OnNewDocument() {
  Trace("document OnNewDocument");
  return CDocument::OnNewDocument();
}

}  // namespace rigplot
