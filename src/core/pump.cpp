// The message pump: one pass per frame, called by the game at the end of each frame.
#include "core/pump.h"

#include "core/library.h"
#include "core/window.h"
#include "gamelib/core.h"
#include "sound/music.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

constexpr int kMessagesPerPass = 5;
constexpr int kDrainLimit = 1000;

PumpWorkObserver g_observer = nullptr;
// Set while the per-frame work (or the refill of an inactive wait) runs: a pump entered
// from inside it only dispatches messages, so the work never nests.
bool g_inFrameWork = false;

void Observe(const char* step) {
  if (g_observer != nullptr) g_observer(step);
}

// ---- Per-frame work of the other subsystems ----------------------------------------
// The only place the core calls into the sound layer and input each frame. The sound
// layer adds exactly two calls here:
//   RunStreamRefill:  ProcessAllStreamSounds();
//   RunFrameWork:     UpdateMusicPlayState();   (after the refill, before input)
void RunStreamRefill() {
  Observe("stream");
  ProcessAllStreamSounds();
}

void RunFrameWork() {
  RunStreamRefill();
  Observe("music");
  UpdateMusicPlayState();
  // Input work (joypad vibration, text entry) comes with the input subsystem.
  Observe("input");
}
// -------------------------------------------------------------------------------------

void RunGuarded(void (*work)()) {
  if (g_inFrameWork) return;
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

void SetPumpWorkObserver(PumpWorkObserver observer) { g_observer = observer; }

void DrainWindowMessages() { DispatchMessages(kDrainLimit); }

int PumpWindowMessages() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  if (!MainWindowExists()) return -1;
  DispatchMessages(kMessagesPerPass);
  // An inactive window pauses the game here; streams keep playing meanwhile.
  while (!MainWindowActive() && !GetWindowClosedFlag()) {
    Sleep(1);
    RunGuarded(RunStreamRefill);
    DispatchMessages(kMessagesPerPass);
  }
  if (GetWindowClosedFlag()) return -1;
  RunGuarded(RunFrameWork);
  return GetWindowClosedFlag() ? -1 : 0;
}

}  // namespace gamelib
