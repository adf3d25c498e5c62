#include "win32/comm_term_view.h"

#include <cstdlib>
#include <string>

#include "desktop/trace.h"
#include "win32/comm_term_app.h"
#include "win32/resource.h"
#include "win32/text.h"

namespace rigplot {

namespace {

// Shows a start-up failure with no owner window, the only thing the user
// sees, and ends the process once it is closed. Status 1: it is a failure.
[[noreturn]] void FailStartup(const LinkResult& result) {
  const char* message = FailureMessage(result.failure);
  Trace("start-up failed: %s", message);
  SayStartupFailure(result);
  MessageBoxW(nullptr, Wide(message).c_str(), L"", MB_OK);
  std::exit(1);
}

// RIGPLOT_TEST_NO_WORKER=1: the receive thread is taken as not started, so a
// window test can see what the user sees when the system refuses a thread.
bool WorkerRefusedForTest() {
  const char* value = std::getenv("RIGPLOT_TEST_NO_WORKER");
  return value != nullptr && std::string(value) == "1";
}

}  // namespace

const CRuntimeClass CCommTermView::kRuntimeClass{"CCommTermView", &CreateObjectOf<CCommTermView>};

CCommTermView::CCommTermView() {
  Trace("view constructed");
  // The view ends the process itself and never destroys the station before that.
  m_station = std::make_unique<Station>(static_cast<const CCommTermApp*>(AfxGetApp())->options(),
                                        &TraceLine);
  const LinkResult opened = m_station->Open();
  if (!opened) FailStartup(opened);
}

// The worker runs from here on, before the frame is first shown. A worker
// that cannot start ends the program here, as a port that cannot be opened
// does: no window is left half made.
int CCommTermView::OnCreate(const CREATESTRUCTW* cs) {
  if (CView::OnCreate(cs) == -1) return -1;
  const LinkResult started =
      WorkerRefusedForTest() ? LinkResult{LinkFailure::kWorkerNotStarted, "refused for the test"}
                             : m_station->Start();
  if (!started) FailStartup(started);
  Trace("worker started");
  if (m_station->page()) Trace("page %s", m_station->page()->url().c_str());
  return 0;
}

// The stop sequence. The worker finishes the block it is in, with every store
// and rewrite, before Stop returns; the map script stays on disk.
void CCommTermView::OnDestroy() {
  CView::OnDestroy();
  const bool ended = m_station->Stop();
  Trace("view OnDestroy: stopped after %llu reports%s",
        static_cast<unsigned long long>(m_station->reportsStored()),
        ended ? "" : " (the receive thread did not end)");
  std::exit(0);
}

bool CCommTermView::OnCmdMsg(UINT id) {
  if (id != ID_TABLE_CLEAR) return false;
  OnTableClear();
  return true;
}

void CCommTermView::OnTableClear() {
  m_station->ClearTable();  // the map script waits for the next report
  Trace("table cleared");
}

}  // namespace rigplot
