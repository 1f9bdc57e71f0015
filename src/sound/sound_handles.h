// The sound table: 4096 sound handles over the shared handle table, and the records
// they name.
#pragma once

#include "core/handle_table.h"
#include "sound/sound_records.h"

namespace gamelib {

// -1 for a new sound, or a sound handle whose slot the caller has just emptied (the
// sound is re-created under the same handle). Makes a zero-filled record; returns the
// handle or -1.
int AddSoundData(int handle);

// The record of a valid sound handle, or null (also while the sound system is not
// started).
SoundHandleRecord* GetSoundHandleRecord(int handle);

// The handle of the sound in table slot `slot`, or -1 when the slot is empty.
int GetSoundHandleAt(int slot);

// Empties the handle's slot and frees its record (what the record holds is released
// before).
void FreeSoundHandleRecord(int handle, SoundHandleRecord* record);

// The table itself, for code that walks it.
const HandleTable& GetSoundTable();

}  // namespace gamelib
