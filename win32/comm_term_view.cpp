#include "win32/comm_term_view.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "desktop/trace.h"
#include "radio/file_outputs.h"
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
  // The settings message says it all; a port or thread failure has an OS reason.
  if (result.failure == LinkFailure::kPortNotOpened) {
    std::fprintf(stderr, "rigplot: cannot open %s\n", result.osError.c_str());
  } else if (result.failure == LinkFailure::kWorkerNotStarted) {
    std::fprintf(stderr, "rigplot: cannot start the receive thread: %s\n", result.osError.c_str());
  }
  MessageBoxW(nullptr, Wide(message).c_str(), L"", MB_OK);
  std::exit(1);
}

// RIGPLOT_TEST_NO_WORKER=1: the receive thread is taken as not started, so a
// window test can see what the user sees when the system refuses a thread.
bool WorkerRefusedForTest() {
  const char* value = std::getenv("RIGPLOT_TEST_NO_WORKER");
  return value != nullptr && std::string(value) == "1";
}

// The desktop program says nothing of the link's changes but to the trace.
void TraceLine(const std::string& line) {
  Trace("%s", line.c_str());
}

}  // namespace

const CRuntimeClass CCommTermView::kRuntimeClass{"CCommTermView", &CreateObjectOf<CCommTermView>};

CCommTermView::CCommTermView() {
  Trace("view constructed");
  // The view ends the process itself and never destroys the link before that.
  m_radioLink = std::make_unique<RadioLink>(&TraceLine);
  const CommandLine& options = static_cast<const CCommTermApp*>(AfxGetApp())->options();
  for (auto& output : MakeFileOutputs(options)) m_radioLink->AddOutput(std::move(output));
  const LinkResult opened = m_radioLink->Open();
  if (!opened) FailStartup(opened);
  // Without its address the page is left out; the link runs as before.
  m_webPage = StartWebPage(*m_radioLink, options, &TraceLine);
}

// The worker runs from here on, before the frame is first shown. A worker
// that cannot start ends the program here, as a port that cannot be opened
// does: no window is left half made.
int CCommTermView::OnCreate(const CREATESTRUCTW* cs) {
  if (CView::OnCreate(cs) == -1) return -1;
  const LinkResult started =
      WorkerRefusedForTest() ? LinkResult{LinkFailure::kWorkerNotStarted, "refused for the test"}
                             : m_radioLink->Start();
  if (!started) FailStartup(started);
  Trace("worker started");
  if (m_webPage) {
    m_webPage->Serve();
    Trace("page %s", m_webPage->url().c_str());
  }
  return 0;
}

// The stop sequence. The worker finishes the block it is in, with every store
// and rewrite, before Stop returns; the map script stays on disk.
void CCommTermView::OnDestroy() {
  CView::OnDestroy();
  if (m_webPage) m_webPage->Stop();
  const bool ended = m_radioLink->Stop();
  Trace("view OnDestroy: stopped after %llu reports%s",
        static_cast<unsigned long long>(m_radioLink->reportsStored()),
        ended ? "" : " (the receive thread did not end)");
  std::exit(0);
}

bool CCommTermView::OnCmdMsg(UINT id) {
  if (id != ID_TABLE_CLEAR) return false;
  OnTableClear();
  return true;
}

void CCommTermView::OnTableClear() {
  m_radioLink->ClearTable();  // the map script waits for the next report
  Trace("table cleared");
}

}  // namespace rigplot
