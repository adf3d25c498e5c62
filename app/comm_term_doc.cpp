#include "app/comm_term_doc.h"

#include "app/trace.h"

namespace rigplot {

wxIMPLEMENT_DYNAMIC_CLASS(CCommTermDoc, wxDocument);

CCommTermDoc::CCommTermDoc() {
  Trace("document constructed");
}

bool CCommTermDoc::OnNewDocument() {
  Trace("document OnNewDocument");
  return wxDocument::OnNewDocument();
}

}  // namespace rigplot
