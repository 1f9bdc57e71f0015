// Music handles for MIDI music played through the one MCI device, the hooks the
// library core calls (pump, window procedure, shutdown), and the capture file.
#pragma once

#include <cstdint>

#include "core/handle_table.h"

namespace gamelib {

constexpr int kMaxMusicHandles = 256;

struct MusicHandleRecord {
  std::int32_t checkNumber;  // low 11 bits match the handle's check number
  std::int32_t playing;      // 1 while the music is meant to be playing
  std::int32_t started;      // DirectMusic mode: 1 once the segment was seen playing
  void* midiData;            // the MIDI file image, owned (library memory)
  std::uint32_t midiDataBytes;
  void* segment;  // DirectMusic segment; that mode is not built, so always null
};

// Values of SoundSystemState::currentMusicKind.
constexpr int kCurrentMusicSound = 1;

// The record of a valid music handle, or null (also while the sound system is not
// started).
MusicHandleRecord* GetMusicHandleRecord(int handle);
// The table itself: nothing in the library makes a music handle, so code that does
// puts its records in here.
HandleTable& GetMusicTable();

// Per pump pass. 0, or -1 when the sound system is not started.
int UpdateMusicPlayState();
// On MM_MCINOTIFY: plays the MIDI device again from the start when looping, else
// closes it when it plays. 0.
int HandleMidiPlayNotify();
// Deletes every music handle; 0, or -1 when the sound system is not started.
int DeleteAllMusicHandles();
// Stops and deletes the current music (a sound or a music handle), if any. 0.
int EndCurrentMusic();
// Deletes the temporary MIDI file when there is one.
void DeleteMusicTempFile();
// Writes the capture file's header and closes it. 0; -1 when no capture file is open
// or the header could not be written (the file is closed all the same).
int CloseWaveCaptureFile();

// The capture file's header.
constexpr int kWaveCaptureHeaderBytes = 46;
// The most frames whose sizes the header can state exactly; a longer capture is
// stated as this many.
constexpr std::uint32_t kMaxWaveCaptureFrames = (0xFFFFFFFFu - 38u) / 4u;

}  // namespace gamelib
