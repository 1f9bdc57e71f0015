// The sound system's global state block. Every sound operation first looks at
// `directSound`: while it is null the sound system is not started and they return -1.
#pragma once

#include <cstdint>

#include "gamelib/core.h"
#include "platform/dsound.h"

namespace gamelib {

// Values of SoundSystemState::musicMode.
constexpr int MUSIC_MODE_MCI = 0;
constexpr int MUSIC_MODE_DIRECTMUSIC = 1;  // never selected; not built

// Values of the create type.
constexpr int SOUND_CREATE_MEMORY = 0;
constexpr int SOUND_CREATE_TYPE_MAX = 3;

struct SoundSystemState {
  IDirectSound* directSound;
  IDirectSoundBuffer* primaryBuffer;
  IDirectSoundBuffer* silenceBuffer;
  std::int32_t musicMode;
  // The DirectMusic objects of music mode 1; that mode is not built, so they stay null.
  void* musicLoader;
  void* musicPerformance;
  std::int32_t musicMasterVolume;
  std::int32_t createType;
  std::int32_t OggSampleBytesSetting;  // bytes per sample of Ogg Vorbis output
  LinkedList SoundStreamList;          // every stream sound, for the per-frame refill
};

SoundSystemState& GetSoundSystemState();

inline bool SoundSystemStarted() { return GetSoundSystemState().directSound != nullptr; }

}  // namespace gamelib
