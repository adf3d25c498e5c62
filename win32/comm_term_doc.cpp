#include "win32/comm_term_doc.h"

#include "desktop/trace.h"

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
