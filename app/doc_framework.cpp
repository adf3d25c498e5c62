#include "app/doc_framework.h"

#include <memory>

#include "app/frame_platform.h"
#include "app/resource.h"

namespace rigplot {

wxString CDocManager::MakeNewDocumentName() {
  return ResourceText(kUntitledTitle);
}

bool CFrameWnd::LoadFrame(CCreateContext& context) {
  CreateStruct cs;
  if (!PreCreateWindow(cs)) return false;
  if (!Create(context.m_pCurrentDoc->GetDocumentManager(), nullptr, wxID_ANY, cs.title,
              wxPoint(cs.x, cs.y), wxSize(cs.cx, cs.cy), cs.style)) {
    return false;
  }
  ShowAtOnce();
  SetMenuBar(LoadMainMenu());
  LetMenuBarShrink(GetMenuBar());
  SetAcceleratorTable(LoadMainAccelerators());
  SetIcons(LoadMainIcon());
  return OnCreate(context) != -1;
}

void CFrameWnd::Raise() {
  if (IsShown()) wxDocParentFrame::Raise();
}

bool CFrameWnd::PreCreateWindow(CreateStruct& cs) {
  cs.style = wxDEFAULT_FRAME_STYLE;
  cs.title = ResourceText(kAppTitle);
  return true;
}

int CFrameWnd::OnCreate(CCreateContext& context) {
  context.m_pNewView = context.m_pNewDocTemplate->CreateViewInFrame(context, this);
  return context.m_pNewView != nullptr ? 0 : -1;
}

CSingleDocTemplate::CSingleDocTemplate(wxDocManager* manager, int resourceId, wxClassInfo* docClass,
                                       wxClassInfo* frameClass, wxClassInfo* viewClass)
    : wxDocTemplate(manager, ResourceText(kAppTitle), wxEmptyString, wxEmptyString, wxEmptyString,
                    ResourceText(kAppTitle), ResourceText(kAppTitle), docClass, viewClass),
      m_nIDResource(resourceId),
      m_pFrameClass(frameClass) {}

wxView* CSingleDocTemplate::CreateView(wxDocument* doc, long flags) {
  auto* frame = dynamic_cast<CFrameWnd*>(m_pFrameClass->CreateObject());
  if (frame == nullptr) return nullptr;
  CCreateContext context;
  context.m_pCurrentDoc = doc;
  context.m_pNewDocTemplate = this;
  context.m_flags = flags;
  if (!frame->LoadFrame(context)) {
    frame->Destroy();
    return nullptr;
  }
  return context.m_pNewView;
}

wxView* CSingleDocTemplate::CreateViewInFrame(CCreateContext& context, wxFrame* frame) {
  std::unique_ptr<wxView> view(DoCreateView());
  if (!view) return nullptr;
  view->SetDocument(context.m_pCurrentDoc);
  view->SetFrame(frame);
  if (!view->OnCreate(context.m_pCurrentDoc, context.m_flags)) return nullptr;
  return view.release();
}

}  // namespace rigplot
