// SPDX-License-Identifier: MIT
// The pieces of the single-document framework that wx leaves out.
//
// wx's template makes a document and a view and lets the view make its frame.
// Here the template makes the document, then the frame; the frame's creation
// makes the view, which creates its window as the frame's client, so the
// view exists before the document is initialised and the frame shown. The
// Windows program starts the same way, and the window tests check the order
// in both. Also here: the frame's creation steps (PreCreateWindow, the
// creation handler) and the name of an untitled document.
// Thread: the UI thread.
#pragma once

#include <wx/docview.h>

namespace rigplot {

class CSingleDocTemplate;

// What a frame window is created with: outer place and size, style, title.
struct CreateStruct {
  int x = wxDefaultCoord;
  int y = wxDefaultCoord;
  int cx = wxDefaultCoord;
  int cy = wxDefaultCoord;
  long style = 0;
  wxString title;
};

// What a frame's creation needs to make its view.
struct CCreateContext {
  wxDocument* m_pCurrentDoc = nullptr;
  CSingleDocTemplate* m_pNewDocTemplate = nullptr;
  long m_flags = 0;
  wxView* m_pNewView = nullptr;  // set once the view exists
};

// Names a new document "無題" (untitled), so the caption reads "無題 - RIGPLOT".
class CDocManager : public wxDocManager {
 public:
  wxString MakeNewDocumentName() override;
};

// The main frame of a single-document application.
class CFrameWnd : public wxDocParentFrame {
 public:
  // Creates the window from the IDR_MAINFRAME resources: PreCreateWindow, the
  // window, its menu, accelerators and icon, then OnCreate. False when a step
  // fails; the caller then destroys the frame.
  bool LoadFrame(CCreateContext& context);

  // wx raises a new document's frame before the application shows it; on GTK
  // that would map the window behind wx's back, so a hidden frame waits.
  void Raise() override;

 protected:
  // Style, place and size for the window about to be created.
  virtual bool PreCreateWindow(CreateStruct& cs);

  // The window has been created. wx sends no event at that moment, so
  // LoadFrame calls it. Makes the view as the client: 0, or -1 to fail.
  virtual int OnCreate(CCreateContext& context);

 private:
  // The first Show shows the window then and there (frame_platform_*.cpp).
  void ShowAtOnce();
};

// One document type, one frame, one view.
class CSingleDocTemplate : public wxDocTemplate {
 public:
  // Hands itself to `manager`, which owns it from then on.
  CSingleDocTemplate(wxDocManager* manager, int resourceId, wxClassInfo* docClass,
                     wxClassInfo* frameClass, wxClassInfo* viewClass);

  // Makes the frame; the frame's creation makes the view.
  wxView* CreateView(wxDocument* doc, long flags) override;

  // For the frame's creation: constructs the view and creates it as the
  // frame's client.
  wxView* CreateViewInFrame(CCreateContext& context, wxFrame* frame);

  int resourceId() const { return m_nIDResource; }

 private:
  int m_nIDResource;
  wxClassInfo* m_pFrameClass;
};

}  // namespace rigplot
