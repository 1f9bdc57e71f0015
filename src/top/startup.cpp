// Start-up and shutdown of the whole library: the core's steps with the subsystems'
// between them, in the one order that works (the sound device needs the window, music
// must end while the sound system is still up).
#include "core/library.h"
#include "core/pump.h"
#include "core/window.h"
#include "gamelib/core.h"
#include "gamelib/font.h"
#include "sound/music.h"
#include "sound/sound_system.h"
#include "top/top.h"

namespace gamelib {
namespace {

// Undoes whatever start-up got done, in reverse order. Also the failed start's cleanup.
void ShutDown() {
  // Music ends before anything else is shut down.
  EndCurrentMusic();
  // Fonts go before graphics: their cache pages may be graphs.
  InitFontToHandle();
  TerminateGraphics();
  // (input shuts down here when it exists)
  // The sound system goes after graphics and input.
  TerminateSoundSystem();
  FinishLibraryStop();
}

}  // namespace

int InitializeLibrary() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  SetShutdownHandler(TerminateLibrary);
  SetWindowMessageHandler(DispatchSubsystemMessage);
  SetPumpWork({RunFrameWork, RefillStreams});
  if (BeginLibraryStart() != 0) return -1;
  // From here on a failure runs the full shutdown.
  if (StartCoreServices() != 0) {
    BeginLibraryStop();
    ShutDown();
    return -1;
  }
  // (input starts here when it exists; its failure aborts the start)
  // The sound system's result is not looked at: without it the game runs silent.
  if (!GetNoSoundFlag()) InitializeSoundSystem();
  if (InitializeGraphics() != 0) {
    BeginLibraryStop();
    ShutDown();
    return -1;
  }
  OutputLogFormat("ライブラリの初期化が完了しました");
  return 0;
}

int TerminateLibrary() {
  std::lock_guard<std::recursive_mutex> guard(LibraryLock());
  if (BeginLibraryStop() != 0) return -1;
  OutputLogFormat("ライブラリの終了処理を開始します");
  ShutDown();
  return 0;
}

}  // namespace gamelib
