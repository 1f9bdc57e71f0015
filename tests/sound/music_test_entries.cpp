// The music and capture entries the tests reach those operations through, filling the
// music records and globals, and the capture globals, as a loader and a recorder would.
#include "music_test_entries.h"

#include <cstring>

#include "core/handle_table.h"
#include "core/window.h"
#include "gamelib/core.h"
#include "sound/music.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

void PutLe16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

int AddMusicHandleForTest(const void* midiData, std::uint32_t midiDataBytes) {
  if (!SoundSystemStarted() || (midiData == nullptr && midiDataBytes != 0)) return -1;
  HandleTable& table = GetMusicTable();
  int slot = FindFreeHandleSlot(&table);
  if (slot < 0) return -1;
  auto* record = static_cast<MusicHandleRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(MusicHandleRecord)));
  if (record == nullptr) return -1;
  if (midiDataBytes != 0) {
    record->midiData = GAMELIB_ALLOC(midiDataBytes);
    if (record->midiData == nullptr) {
      FreeMemory(record);
      return -1;
    }
    CopyMemoryBytes(record->midiData, midiData, midiDataBytes);
    record->midiDataBytes = midiDataBytes;
  }
  int handle = AddHandleRecord(&table, slot, record);
  if (handle == -1) {
    FreeMemory(record->midiData);
    FreeMemory(record);
  }
  return handle;
}

int PlayMusicHandleForTest(int handle, MCIDEVICEID device, int loop) {
  MusicHandleRecord* record = GetMusicHandleRecord(handle);
  if (record == nullptr) return -1;
  MCI_PLAY_PARMS play;
  std::memset(&play, 0, sizeof(play));
  play.dwCallback = reinterpret_cast<DWORD_PTR>(GetMainWindowHandle());
  play.dwFrom = 0;
  if (mciSendCommandA(device, MCI_PLAY, MCI_NOTIFY | MCI_FROM, reinterpret_cast<DWORD_PTR>(&play)) != 0)
    return -1;
  SoundSystemState& state = GetSoundSystemState();
  state.midiDevice = device;
  state.midiPlaying = 1;
  state.musicLoop = loop != 0 ? 1 : 0;
  record->playing = 1;
  return 0;
}

int OpenWaveCaptureFileForTest(const char* fileName) {
  SoundSystemState& state = GetSoundSystemState();
  if (state.captureFlag == 1) return -1;
  HANDLE file =
      CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  std::uint8_t room[kWaveCaptureHeaderBytes] = {};
  DWORD bytes = 0;
  if (WriteFile(file, room, sizeof(room), &bytes, nullptr) == FALSE || bytes != sizeof(room)) {
    CloseHandle(file);
    return -1;
  }
  state.captureFile = file;
  state.captureSamples = 0;
  state.captureFlag = 1;
  return 0;
}

int WriteWaveCaptureForTest(const std::int16_t* frames, std::uint32_t frameCount) {
  SoundSystemState& state = GetSoundSystemState();
  if (state.captureFlag != 1 || (frames == nullptr && frameCount != 0)) return -1;
  // Written little-endian, so the file is the same on any host.
  constexpr std::uint32_t kChunkFrames = 1024;
  std::uint8_t bytes[kChunkFrames * 4];
  for (std::uint32_t done = 0; done < frameCount;) {
    std::uint32_t n = frameCount - done < kChunkFrames ? frameCount - done : kChunkFrames;
    for (std::uint32_t i = 0; i < n; ++i) {
      PutLe16(bytes + 4 * i, static_cast<std::uint16_t>(frames[2 * (done + i)]));
      PutLe16(bytes + 4 * i + 2, static_cast<std::uint16_t>(frames[2 * (done + i) + 1]));
    }
    DWORD written = 0;
    if (WriteFile(state.captureFile, bytes, n * 4, &written, nullptr) == FALSE || written != n * 4) return -1;
    state.captureSamples += n;
    done += n;
  }
  return 0;
}

}  // namespace gamelib
