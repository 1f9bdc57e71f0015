// The subsystems' share of the main window's procedure.
#include "sound/music.h"
#include "top/top.h"

namespace gamelib {

bool DispatchSubsystemMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case MM_MCINOTIFY:
      // MCI reports the end of MIDI playback; the handler needs neither argument.
      HandleMidiPlayNotify();
      return true;
    case WM_ACTIVATEAPP:
      // A full-screen window that loses activation may have to give up its 3-D device;
      // the 3-D back end's release goes here when it exists.
      return true;
    default:
      return false;
  }
}

}  // namespace gamelib
