// The message pump: one pass per frame, called by the game at the end of each frame.
// The subsystems' per-frame work is the top layer's, handed in through SetPumpWork.
#include "core/pump.h"

#include "core/library.h"
#include "core/window.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

constexpr int kMessagesPerPass = 5;
constexpr int kDrainLimit = 1000;

PumpWork g_work{};
PumpWorkObserver g_observer = nullptr;
// Set while the per-frame work (or the work of an inactive wait) runs: a pump entered
// from inside it only dispatches messages, so the work never nests.
bool g_inFrameWork = false;

void RunGuarded(void (*work)()) {
  if (work == nullptr || g_inFrameWork) return;
  g_inFrameWork = true;
  work();
  g_inFrameWork = false;
}

int DispatchMessages(int limit) {
  int dispatched = 0;
  MSG msg;
  while (dispatched < limit && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ++dispatched;
    if (msg.message == WM_QUIT) {
      SetQuitFlag();
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return dispatched;
}

}  // namespace

void SetPumpWork(PumpWork work) { g_work = work; }

void SetPumpWorkObserver(PumpWorkObserver observer) { g_observer = observer; }

void ReportPumpWork(const char* step) {
  if (g_observer != nullptr) g_observer(step);
}

void DrainWindowMessages() { DispatchMessages(kDrainLimit); }

int PumpWindowMessages() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  if (!MainWindowExists()) return -1;
  DispatchMessages(kMessagesPerPass);
  // An inactive window pauses the game here; streams keep playing meanwhile.
  while (!MainWindowActive() && !GetWindowClosedFlag()) {
    Sleep(1);
    RunGuarded(g_work.whileInactive);
    DispatchMessages(kMessagesPerPass);
  }
  if (GetWindowClosedFlag()) return -1;
  RunGuarded(g_work.eachFrame);
  return GetWindowClosedFlag() ? -1 : 0;
}

}  // namespace gamelib
