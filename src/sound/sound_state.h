// The sound system's global state block. Every sound operation first looks at
// `directSound`: while it is null the sound system is not started and they return -1.
#pragma once

#include <cstdint>

#include "gamelib/core.h"
#include "platform/dsound.h"
#include "platform/mci.h"

namespace gamelib {

// Values of SoundSystemState::musicMode.
constexpr int kMusicModeMci = 0;
constexpr int kMusicModeDirectmusic = 1;  // never selected; not built

// Values of the create type.
constexpr int kSoundCreateMemory = 0;
constexpr int kSoundCreateTypeMax = 3;

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

  // Music: one MCI device plays MIDI for every music handle.
  MCIDEVICEID midiDevice;
  std::int32_t midiPlaying;     // 1 while the MCI device plays
  std::int32_t musicLoop;       // 1: play again from the start when it ends
  char musicTempFileName[260];  // the temporary MIDI file, while musicTempFileFlag is 1
  std::int32_t musicTempFileFlag;
  std::int32_t currentMusic;      // a handle, 0 for none
  std::int32_t currentMusicKind;  // 1 a sound handle, else a music handle

  // The capture file that output can be recorded into.
  std::int32_t captureFlag;  // 1 while the file is open
  HANDLE captureFile;
  std::uint32_t captureSamples;  // 4-byte stereo frames written
};

SoundSystemState& GetSoundSystemState();

inline bool SoundSystemStarted() { return GetSoundSystemState().directSound != nullptr; }

}  // namespace gamelib
