// The sound table: 4096 sound handles over the shared handle table.
#pragma once

#include "core/handle_table.h"
#include "sound/sound_records.h"

namespace gamelib {

// -1 for a new sound, or a sound handle whose slot the caller has just emptied (the
// sound is re-created under the same handle). Returns the handle or -1.
int AddSoundData(int handle);
// Deletes every sound; 0, or -1 when the sound system is not started.
int DeleteAllSoundHandles();

// The record of a valid sound handle, or null (also while the sound system is not
// started).
SoundHandleRecord* GetSoundHandleRecord(int handle);

// The table itself, for code that walks it.
const HandleTable& GetSoundTable();

}  // namespace gamelib
