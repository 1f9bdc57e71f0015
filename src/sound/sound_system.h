// Start-up and shutdown of the sound system, called by the library's own start-up
// and shutdown, and the deletion of every sound that both run.
#pragma once

#include "platform/dsound.h"

namespace gamelib {

// 0, or -1 when it is already started or the device cannot be made and set up.
int InitializeSoundSystem();
// 0, or -1 when it is not started.
int TerminateSoundSystem();

// Deletes every sound; 0, or -1 when the sound system is not started.
int DeleteAllSoundHandles();

// The device enumeration callback of the start-up report; always goes on (TRUE).
BOOL LogSoundDriverCallback(GUID* guid, const char* description, const char* module, void* context);

}  // namespace gamelib
