// SPDX-License-Identifier: MIT
// The pieces of the single-document framework the program is built on,
// written for plain Win32: run-time classes, command targets, windows that
// hand their messages to their objects, the document, the view, the frame,
// the dialog, the application and the single-document template.
//
// The template makes the document, then the frame; the frame's creation makes
// the view, whose window is the frame's client; then the document is
// initialised and the frame shown. A menu command goes to the view first,
// then the frame, then the application.
// Thread: the UI thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace rigplot {

class CObject {
 public:
  virtual ~CObject() = default;
};

// A class's name and how to make one: the template creates by these.
struct CRuntimeClass {
  const char* m_lpszClassName;
  CObject* (*m_pfnCreateObject)();
};

template <class T>
CObject* CreateObjectOf() {
  return new T;
}

class CCmdTarget : public CObject {
 public:
  // True when this target served the command.
  virtual bool OnCmdMsg(UINT id);
};

class CDocument;
class CFrameWnd;
class CSingleDocTemplate;
class CView;

// What a frame's creation needs to make its view.
struct CCreateContext {
  CDocument* m_pCurrentDoc = nullptr;
  CSingleDocTemplate* m_pNewDocTemplate = nullptr;
  const CRuntimeClass* m_pNewViewClass = nullptr;
  CView* m_pNewView = nullptr;  // set once the view exists
};

// A window whose messages go to its object's WindowProc.
class CWnd : public CCmdTarget {
 public:
  HWND m_hWnd = nullptr;

 protected:
  // Registers a window class of this program once.
  static bool RegisterWndClass(const wchar_t* name, UINT classStyle, HBRUSH background);

  // Creates the window for this object; `context` rides along to WM_CREATE.
  bool CreateEx(const CREATESTRUCTW& cs, CCreateContext* context);
  static CCreateContext* ContextOf(const CREATESTRUCTW* cs);

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // The window is gone; the object may go with it.
  virtual void PostNcDestroy();

 private:
  static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// Holds no data here; closing it never asks to save.
class CDocument : public CCmdTarget {
 public:
  virtual bool OnNewDocument();
  const std::wstring& GetTitle() const { return m_strTitle; }
  void SetTitle(const std::wstring& title) { m_strTitle = title; }

 private:
  std::wstring m_strTitle;
};

class CView : public CWnd {
 public:
  // Creates the view's window as the frame's client.
  bool Create(CFrameWnd* frame, CCreateContext* context);
  CDocument* GetDocument() const { return m_pDocument; }

 protected:
  virtual int OnCreate(const CREATESTRUCTW* cs);
  virtual void OnDestroy();
  virtual void OnDraw(HDC hdc);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void PostNcDestroy() override;  // the view's window owns the view

 private:
  CDocument* m_pDocument = nullptr;
};

class CFrameWnd : public CWnd {
 public:
  // Creates the window from the resources under `resourceId`: menu,
  // accelerators and icon; PreCreateWindow first, OnCreate during.
  bool LoadFrame(UINT resourceId, CCreateContext* context);

  // The document is ready: the caption becomes "<title> - <program>".
  void InitialUpdateFrame(CDocument* doc);

  HACCEL m_hAccelTable = nullptr;

 protected:
  virtual bool PreCreateWindow(CREATESTRUCTW& cs);
  virtual int OnCreate(const CREATESTRUCTW* cs);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void RouteCommand(UINT id);
  void OnClose();

  UINT m_nIDResource = 0;
  CView* m_pViewActive = nullptr;
  std::wstring m_strTitle;  // the program's part of the caption
};

// A modal dialog from a template.
class CDialog : public CCmdTarget {
 public:
  explicit CDialog(UINT templateId) : m_nIDTemplate(templateId) {}
  INT_PTR DoModal();

 protected:
  // Centres the box over its owner, as a template without a place asks.
  virtual BOOL OnInitDialog();
  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK StaticDialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  UINT m_nIDTemplate;
};

class CWinApp : public CCmdTarget {
 public:
  CWinApp();
  ~CWinApp() override;

  virtual bool InitInstance() = 0;

  // The message loop, with the main frame's accelerators.
  int Run();

  CFrameWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();

// One document type, one frame, one view.
class CSingleDocTemplate {
 public:
  CSingleDocTemplate(UINT resourceId, const CRuntimeClass* docClass,
                     const CRuntimeClass* frameClass, const CRuntimeClass* viewClass);

  // A new, untitled document with its frame and view. Null on failure.
  CDocument* OpenDocumentFile();

  CFrameWnd* frame() const { return m_pFrame.get(); }

 private:
  UINT m_nIDResource;
  const CRuntimeClass* m_pDocClass;
  const CRuntimeClass* m_pFrameClass;
  const CRuntimeClass* m_pViewClass;
  std::unique_ptr<CDocument> m_pDocument;
  std::unique_ptr<CFrameWnd> m_pFrame;
};

}  // namespace rigplot
