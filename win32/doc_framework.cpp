#include "win32/doc_framework.h"

#include "win32/resource.h"
#include "win32/text.h"

namespace rigplot {

namespace {

CWinApp* g_pApp = nullptr;

// What the window procedure needs at WM_NCCREATE, before the window has an
// object attached.
struct CreateParams {
  CWnd* window;
  CCreateContext* context;
};

HICON LoadMainIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                       IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

}  // namespace

bool CCmdTarget::OnCmdMsg(UINT) {
  return false;
}

bool CWnd::RegisterWndClass(const wchar_t* name, UINT classStyle, HBRUSH background) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (GetClassInfoExW(instance, name, &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = classStyle;
  wc.lpfnWndProc = &CWnd::StaticWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadMainIcon(GetSystemMetrics(SM_CXICON));
  wc.hIconSm = LoadMainIcon(GetSystemMetrics(SM_CXSMICON));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0;
}

bool CWnd::CreateEx(const CREATESTRUCTW& cs, CCreateContext* context) {
  CreateParams params{this, context};
  const HWND hWnd = CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y,
                                    cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, &params);
  return hWnd != nullptr;
}

CCreateContext* CWnd::ContextOf(const CREATESTRUCTW* cs) {
  return static_cast<CreateParams*>(cs->lpCreateParams)->context;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    CWnd* window = static_cast<CreateParams*>(cs->lpCreateParams)->window;
    window->m_hWnd = hWnd;
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
  }
  auto* window = reinterpret_cast<CWnd*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (window == nullptr) return DefWindowProcW(hWnd, message, wParam, lParam);
  const LRESULT result = window->WindowProc(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
    window->m_hWnd = nullptr;
    window->PostNcDestroy();
  }
  return result;
}

void CWnd::PostNcDestroy() {}

bool CDocument::OnNewDocument() {
  SetTitle(LoadResourceString(IDS_UNTITLED));
  return true;
}

bool CView::Create(CFrameWnd* frame, CCreateContext* context) {
  static constexpr wchar_t kClassName[] = L"CCommTermView";
  // Blank for the whole run: the class background is all it shows.
  if (!RegisterWndClass(kClassName, CS_HREDRAW | CS_VREDRAW,
                        reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1))) {
    return false;
  }
  m_pDocument = context->m_pCurrentDoc;
  RECT client{};
  GetClientRect(frame->m_hWnd, &client);
  CREATESTRUCTW cs{};
  cs.lpszClass = kClassName;
  cs.style = WS_CHILD | WS_VISIBLE;
  cs.dwExStyle = WS_EX_CLIENTEDGE;
  cs.cx = client.right;
  cs.cy = client.bottom;
  cs.hwndParent = frame->m_hWnd;
  cs.hMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AFX_IDW_PANE_FIRST));
  cs.hInstance = GetModuleHandleW(nullptr);
  return CreateEx(cs, context);
}

int CView::OnCreate(const CREATESTRUCTW*) {
  return 0;
}

void CView::OnDestroy() {}

void CView::OnDraw(HDC) {}

void CView::PostNcDestroy() {
  delete this;
}

LRESULT CView::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC hdc = BeginPaint(m_hWnd, &paint);
      OnDraw(hdc);
      EndPaint(m_hWnd, &paint);
      return 0;
    }
    default:
      return CWnd::WindowProc(message, wParam, lParam);
  }
}

bool CFrameWnd::LoadFrame(UINT resourceId, CCreateContext* context) {
  m_nIDResource = resourceId;
  m_strTitle = LoadResourceString(resourceId);
  CREATESTRUCTW cs{};
  if (!PreCreateWindow(cs)) return false;
  m_hAccelTable = LoadAcceleratorsW(cs.hInstance, MAKEINTRESOURCEW(resourceId));
  cs.hMenu = LoadMenuW(cs.hInstance, MAKEINTRESOURCEW(resourceId));
  if (cs.hMenu == nullptr || m_hAccelTable == nullptr) return false;
  if (!CreateEx(cs, context)) {
    DestroyMenu(cs.hMenu);
    return false;
  }
  return true;
}

void CFrameWnd::InitialUpdateFrame(CDocument* doc) {
  const std::wstring caption = doc->GetTitle() + L" - " + m_strTitle;
  SetWindowTextW(m_hWnd, caption.c_str());
}

// An overlapped window with caption, sizing border, system menu, minimise
// and maximise boxes, of a class whose icon is the program's.
bool CFrameWnd::PreCreateWindow(CREATESTRUCTW& cs) {
  static constexpr wchar_t kClassName[] = L"CMainFrame";
  if (!RegisterWndClass(kClassName, CS_HREDRAW | CS_VREDRAW,
                        reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))) {
    return false;
  }
  cs.lpszClass = kClassName;
  cs.lpszName = m_strTitle.c_str();
  cs.style = WS_OVERLAPPEDWINDOW;
  cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
  cs.hInstance = GetModuleHandleW(nullptr);
  return true;
}

// Makes the view, the frame's client.
int CFrameWnd::OnCreate(const CREATESTRUCTW* cs) {
  CCreateContext* context = ContextOf(cs);
  std::unique_ptr<CObject> object(context->m_pNewViewClass->m_pfnCreateObject());
  auto* view = dynamic_cast<CView*>(object.get());
  if (view == nullptr || !view->Create(this, context)) return -1;
  object.release();  // the view's window owns it from here
  context->m_pNewView = m_pViewActive = view;
  return 0;
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_COMMAND:
      RouteCommand(LOWORD(wParam));
      return 0;
    case WM_SIZE:
      if (m_pViewActive != nullptr && m_pViewActive->m_hWnd != nullptr) {
        MoveWindow(m_pViewActive->m_hWnd, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      }
      return 0;
    case WM_SETFOCUS:
      if (m_pViewActive != nullptr && m_pViewActive->m_hWnd != nullptr) {
        SetFocus(m_pViewActive->m_hWnd);
      }
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_ENDSESSION:
      // Log-off or shut-down: the process may end as soon as this returns, so
      // the window goes now and takes the view's stop sequence with it.
      if (wParam) DestroyWindow(m_hWnd);
      return 0;
    case WM_DESTROY:
      if (AfxGetApp()->m_pMainWnd == this) PostQuitMessage(0);
      return 0;
    default:
      return CWnd::WindowProc(message, wParam, lParam);
  }
}

// View, frame, application: the first that serves the command ends it.
void CFrameWnd::RouteCommand(UINT id) {
  if (m_pViewActive != nullptr && m_pViewActive->OnCmdMsg(id)) return;
  if (OnCmdMsg(id)) return;
  AfxGetApp()->OnCmdMsg(id);
}

// The document holds nothing, so nothing is asked: hide the window, then
// destroy it and with it the view.
void CFrameWnd::OnClose() {
  ShowWindow(m_hWnd, SW_HIDE);
  DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal() {
  const CFrameWnd* owner = AfxGetApp()->m_pMainWnd;
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate),
                         owner != nullptr ? owner->m_hWnd : nullptr, &CDialog::StaticDialogProc,
                         reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
  const HWND owner = GetWindow(m_hWnd, GW_OWNER);
  RECT box{};
  RECT over{};
  GetWindowRect(m_hWnd, &box);
  if (owner != nullptr) {
    GetWindowRect(owner, &over);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
  }
  const int x = over.left + ((over.right - over.left) - (box.right - box.left)) / 2;
  const int y = over.top + ((over.bottom - over.top) - (box.bottom - box.top)) / 2;
  SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;  // the default button takes the focus
}

// OK and Enter end the box with IDOK; Esc and the close box with IDCANCEL.
INT_PTR CALLBACK CDialog::StaticDialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->m_hWnd = hWnd;
    SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
    return dialog->OnInitDialog();
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(hWnd, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

CWinApp::CWinApp() {
  g_pApp = this;
}

CWinApp::~CWinApp() {
  g_pApp = nullptr;
}

int CWinApp::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (m_pMainWnd != nullptr && m_pMainWnd->m_hWnd != nullptr &&
        TranslateAcceleratorW(m_pMainWnd->m_hWnd, m_pMainWnd->m_hAccelTable, &msg)) {
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

CWinApp* AfxGetApp() {
  return g_pApp;
}

CSingleDocTemplate::CSingleDocTemplate(UINT resourceId, const CRuntimeClass* docClass,
                                       const CRuntimeClass* frameClass,
                                       const CRuntimeClass* viewClass)
    : m_nIDResource(resourceId),
      m_pDocClass(docClass),
      m_pFrameClass(frameClass),
      m_pViewClass(viewClass) {}

CDocument* CSingleDocTemplate::OpenDocumentFile() {
  std::unique_ptr<CObject> doc(m_pDocClass->m_pfnCreateObject());
  std::unique_ptr<CObject> frame(m_pFrameClass->m_pfnCreateObject());
  m_pDocument.reset(dynamic_cast<CDocument*>(doc.get()));
  if (m_pDocument) doc.release();
  m_pFrame.reset(dynamic_cast<CFrameWnd*>(frame.get()));
  if (m_pFrame) frame.release();
  if (!m_pDocument || !m_pFrame) return nullptr;

  CCreateContext context;
  context.m_pCurrentDoc = m_pDocument.get();
  context.m_pNewDocTemplate = this;
  context.m_pNewViewClass = m_pViewClass;
  if (!m_pFrame->LoadFrame(m_nIDResource, &context)) return nullptr;
  if (!m_pDocument->OnNewDocument()) {
    DestroyWindow(m_pFrame->m_hWnd);
    return nullptr;
  }
  m_pFrame->InitialUpdateFrame(m_pDocument.get());
  return m_pDocument.get();
}

}  // namespace rigplot
