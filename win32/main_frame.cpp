#include "win32/main_frame.h"

#include "desktop/frame_geometry.h"
#include "desktop/trace.h"

namespace rigplot {

const CRuntimeClass CMainFrame::kRuntimeClass{"CMainFrame", &CreateObjectOf<CMainFrame>};

bool CMainFrame::PreCreateWindow(CREATESTRUCTW& cs) {
  if (!CFrameWnd::PreCreateWindow(cs)) return false;
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const FrameRect rect = MainFrameRect(screenWidth, screenHeight);
  cs.cy = rect.cy;
  cs.cx = rect.cx;
  cs.y = rect.y;
  cs.x = rect.x;
  Trace("frame PreCreateWindow %dx%d at (%d,%d) on %dx%d", cs.cx, cs.cy, cs.x, cs.y, screenWidth,
        screenHeight);
  return true;
}

int CMainFrame::OnCreate(const CREATESTRUCTW* cs) {
  if (CFrameWnd::OnCreate(cs) == -1) return -1;
  // The menu is the frame's only bar.
  return 0;
}

}  // namespace rigplot
