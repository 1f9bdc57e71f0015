// The subsystems' share of the main window's procedure.
#include "core/window.h"
#include "d3d/d3d_state.h"
#include "gamelib/core.h"
#include "graphics/screen.h"
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
      // A full-screen window that loses activation loses its surfaces: the 3-D object
      // goes now and everything comes back when the window is active again.
      if (GetWindowModeFlag() == 0 && GraphicsSystemRunning()) {
        if (wParam == 0) {
          ReleaseDirect3DObject();
        } else {
          RestoreGraphSystem();
        }
      }
      return true;
    default:
      return false;
  }
}

}  // namespace gamelib
