// Music handles: the table, the play state, the MCI end notification, stop and
// delete, the shutdown hooks, and the closing of the capture file.
#include "sound/music.h"

#include <cstring>

#include "core/pump.h"
#include "core/window.h"
#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
#include "platform/mci.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

// Pump passes after a stop, so that the device's last notification is dealt with.
constexpr int kStopPumpPasses = 5;

struct MusicTable {
  FixedHandleTable<kMaxMusicHandles> fixed;
  MusicTable() { InitHandleTable(&fixed, kHandleTypeMusic); }
};

HandleTable& Table() {
  static MusicTable table;
  return table.fixed.table;
}

MusicHandleRecord* RecordAt(int slot) {
  HandleTable& table = Table();
  if (slot < 0 || slot >= table.capacity) return nullptr;
  return static_cast<MusicHandleRecord*>(table.records[slot]);
}

void PutLe16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
  PutLe16(at, value);
  PutLe16(at + 2, value >> 16);
}

void BuildCaptureHeader(std::uint8_t* header, std::uint32_t frames) {
  // Past this count the sizes no longer fit 32 bits; the header then states the most
  // whole frames it can, rather than sizes that wrapped around.
  if (frames > kMaxWaveCaptureFrames) frames = kMaxWaveCaptureFrames;
  std::uint32_t dataBytes = frames * 4u;
  std::memcpy(header + 0, "RIFF", 4);
  PutLe32(header + 4, dataBytes + 38u);
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  PutLe32(header + 16, 18);
  PutLe16(header + 20, WAVE_FORMAT_PCM);
  PutLe16(header + 22, 2);
  PutLe32(header + 24, 44100);
  PutLe32(header + 28, 176400);
  PutLe16(header + 32, 4);
  PutLe16(header + 34, 16);
  PutLe16(header + 36, 0);
  std::memcpy(header + 38, "data", 4);
  PutLe32(header + 42, dataBytes);
}

}  // namespace

HandleTable& GetMusicTable() { return Table(); }

MusicHandleRecord* GetMusicHandleRecord(int handle) {
  if (!SoundSystemStarted()) return nullptr;
  return static_cast<MusicHandleRecord*>(GetHandleRecord(&Table(), handle));
}

int GetMusicPlayState(int handle) {
  MusicHandleRecord* record = GetMusicHandleRecord(handle);
  if (record == nullptr) return -1;
  const SoundSystemState& state = GetSoundSystemState();
  if (state.musicMode == kMusicModeDirectmusic) return record->playing == 1 ? 1 : 0;
  // One MCI device plays for every music handle.
  return state.midiPlaying == 1 ? 1 : 0;
}

int UpdateMusicPlayState() {
  const SoundSystemState& state = GetSoundSystemState();
  if (state.directSound == nullptr) return -1;
  // Only a DirectMusic performance has to be polled for the end of its segments; MCI
  // reports the end through the main window instead. The DirectMusic mode is not
  // built, so there is nothing to poll.
  return 0;
}

int HandleMidiPlayNotify() {
  SoundSystemState& state = GetSoundSystemState();
  if (state.musicLoop == 1) {
    MCI_PLAY_PARMS play;
    std::memset(&play, 0, sizeof(play));
    play.dwCallback = reinterpret_cast<DWORD_PTR>(GetMainWindowHandle());
    play.dwFrom = 0;
    if (mciSendCommandA(state.midiDevice, MCI_PLAY, MCI_NOTIFY | MCI_FROM,
                        reinterpret_cast<DWORD_PTR>(&play)) == 0) {
      state.midiPlaying = 1;
      return 0;
    }
    // A replay the device refuses would never notify again, and the music would
    // count as playing for good: it ends here instead.
    state.musicLoop = 0;
    mciSendCommandA(state.midiDevice, MCI_CLOSE, 0, 0);
    state.midiPlaying = 0;
    return 0;
  }
  if (state.midiPlaying == 1) {
    mciSendCommandA(state.midiDevice, MCI_CLOSE, 0, 0);
    state.midiPlaying = 0;
  }
  return 0;
}

void DeleteMusicTempFile() {
  SoundSystemState& state = GetSoundSystemState();
  // Only a file this library made is deleted, never a name left over.
  if (state.musicTempFileFlag != 1) return;
  if (state.musicTempFileName[0] != '\0') DeleteFileA(state.musicTempFileName);
  state.musicTempFileFlag = 0;
}

int StopMusicHandle(int handle) {
  if (GetMusicHandleRecord(handle) == nullptr) return -1;
  SoundSystemState& state = GetSoundSystemState();
  state.musicLoop = 0;
  if (state.musicMode == kMusicModeMci) {
    HandleMidiPlayNotify();  // closes the device when it plays
    if (MainWindowActive()) {
      for (int i = 0; i < kStopPumpPasses; ++i) PumpWindowMessages();
    } else {
      // Only shutdown and a fatal exit stop music while the window is inactive; the
      // pump would wait for the window to become active again, so only its
      // messages are dealt with.
      DrainWindowMessages();
    }
  }
  DeleteMusicTempFile();
  // The pump passes may have run any window message: look the record up afresh.
  if (MusicHandleRecord* record = GetMusicHandleRecord(handle)) {
    record->playing = 0;
    record->started = 0;
  }
  return 0;
}

int DeleteMusicHandle(int handle) {
  if (GetMusicHandleRecord(handle) == nullptr) return -1;
  if (GetMusicPlayState(handle) == 1) StopMusicHandle(handle);
  MusicHandleRecord* record = GetMusicHandleRecord(handle);
  if (record == nullptr) return 0;
  // `segment` stays null: the DirectMusic mode that would unload it is not built.
  if (record->midiData != nullptr) {
    FillMemoryBytes(record->midiData, 0, record->midiDataBytes);
    FreeMemory(record->midiData);
    record->midiData = nullptr;
  }
  ReleaseHandleSlot(&Table(), HandleSlot(handle));
  FreeMemory(record);
  return 0;
}

int DeleteAllMusicHandles() {
  if (!SoundSystemStarted()) return -1;
  for (int slot = 0; slot < kMaxMusicHandles; ++slot) {
    MusicHandleRecord* record = RecordAt(slot);
    if (record == nullptr) continue;
    DeleteMusicHandle(MakeHandleValue(kHandleTypeMusic, record->checkNumber, slot));
  }
  // With no music left, the device has nothing to play for: it does not outlive the
  // sound system.
  SoundSystemState& state = GetSoundSystemState();
  if (state.midiPlaying == 1) {
    state.musicLoop = 0;
    HandleMidiPlayNotify();
  }
  return 0;
}

int EndCurrentMusic() {
  SoundSystemState& state = GetSoundSystemState();
  if (state.currentMusic == 0) return 0;
  int handle = state.currentMusic;
  int kind = state.currentMusicKind;
  state.currentMusic = 0;
  if (kind == kCurrentMusicSound) {
    StopSoundHandle(handle);
    DeleteSoundHandle(handle);
  } else {
    StopMusicHandle(handle);
    DeleteMusicHandle(handle);
  }
  return 0;
}

int CloseWaveCaptureFile() {
  SoundSystemState& state = GetSoundSystemState();
  if (state.captureFlag != 1) return -1;
  std::uint8_t header[kWaveCaptureHeaderBytes];
  BuildCaptureHeader(header, state.captureSamples);
  // Without the seek the header would land after the data: then it is not written.
  bool written = SetFilePointer(state.captureFile, 0, nullptr, FILE_BEGIN) == 0;
  if (written) {
    DWORD bytes = 0;
    written = WriteFile(state.captureFile, header, kWaveCaptureHeaderBytes, &bytes, nullptr) != FALSE &&
              bytes == kWaveCaptureHeaderBytes;
  }
  bool closed = CloseHandle(state.captureFile) != FALSE;
  state.captureFile = nullptr;
  state.captureFlag = 0;
  return written && closed ? 0 : -1;
}

}  // namespace gamelib
