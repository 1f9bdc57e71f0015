// The one place where the stand-ins plug into the platform base.
#include "platform/hooks.h"

namespace platform {

void RegisterSoundDevice();  // dsound_device.cpp
void RegisterMci();          // mci.cpp
void RegisterAcm();          // acm_stream.cpp
void RegisterDisplay();      // display_sim.cpp

// Runs once on first use and again after every sim::Reset, so keep it to
// registrations: registering a class or module again replaces it, and a hook or
// counter already registered is kept once.
void RegisterBuiltins() {
  // Each stand-in adds its line here, for example:
  //   RegisterComClass(CLSID_..., &Create...);
  //   RegisterModule("....DLL", {{"EntryName", reinterpret_cast<FARPROC>(&Entry)}});
  //   OnReset(&Reset...);  OnVirtualTimeAdvance(&...);  AddLiveObjectCounter(&...);
  RegisterSoundDevice();
  RegisterMci();
  RegisterAcm();
  RegisterDisplay();
}

}  // namespace platform
