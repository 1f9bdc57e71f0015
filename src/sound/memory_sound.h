// Memory sounds: a whole file converted to PCM and copied into a sound buffer and its
// duplicates, so that one effect can sound several times at once; their play, stop,
// position and deletion, and their rebuild as a stream sound for a loop point.
#pragma once

#include "gamelib/core.h"
#include "sound/sound_files.h"
#include "sound/sound_records.h"

namespace gamelib {

constexpr int kMaxMemorySoundBuffers = kSoundBuffersPerHandle;

// A memory sound made from a file image (which the caller keeps), or -1.
int CreateMemorySound(const void* image, int imageBytes, int bufferCount);

// The operations on a valid memory sound's record, as the public entries of the same
// meaning give them (gamelib/sound.h, gamelib/sound_load.h).
int PlayMemorySound(int handle, SoundHandleRecord* record, int playType, int fromTop);
int StopMemorySound(SoundHandleRecord* record);
int CheckMemorySoundPlaying(const SoundHandleRecord* record);
int GetMemorySoundSampleCount(const SoundHandleRecord* record);
int SetMemorySoundPosition(SoundHandleRecord* record, int byteOffset);
int SetMemorySoundPositionMs(SoundHandleRecord* record, int milliseconds);
int GetMemorySoundPosition(SoundHandleRecord* record);
int DeleteMemorySound(int handle, SoundHandleRecord* record);

// Makes the memory sound a stream sound of one file playing the same PCM, under the
// same handle (the record is new: look it up again). -1 when the rebuild fails; once
// the memory sound is deleted the handle then names an empty record.
int RebuildMemorySoundAsStream(int handle, SoundHandleRecord* record);

}  // namespace gamelib
