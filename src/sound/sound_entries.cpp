// The public sound entries (gamelib/sound.h and gamelib/sound_load.h, music apart):
// each checks the handle and hands a memory sound to the memory-sound code and a
// stream sound to the stream-sound code; the loads choose by the create type.
#include <algorithm>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
#include "sound/memory_sound.h"
#include "sound/sound_buffers.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

bool IsStream(const SoundHandleRecord& record) { return record.soundKind == kSoundKindStream; }

}  // namespace

// ---- Loading -----------------------------------------------------------------------------

int LoadSoundFile(const char* fileName, int bufferCount, int shareStream) {
  if (!SoundSystemStarted() || fileName == nullptr) return -1;
  bufferCount = std::clamp(bufferCount, 0, kMaxMemorySoundBuffers);

  if (GetSoundSystemState().createType != kSoundCreateMemory) {
    int handle = AddSoundData(-1);
    if (handle == -1) return -1;
    if (AddStreamSoundFile(fileName, 0, handle, GetSoundSystemState().createType, shareStream) != 0) {
      DeleteSoundHandle(handle, 0);
      return -1;
    }
    PrepareStreamSound(handle);
    return handle;
  }

  void* image = nullptr;
  int imageBytes = 0;
  if (LoadFileToMemory(fileName, &image, &imageBytes) != 0)
    return OutputLogFormat("右記の音声ファイルのロードに失敗しました_1：%s", fileName);
  int handle = CreateMemorySound(image, imageBytes, bufferCount);
  FreeMemory(image);
  if (handle == -1) return OutputLogFormat("右記の音声ファイルのロードに失敗しました_2：%s", fileName);
  return handle;
}

int LoadSoundFromMemory(const void* image, int imageBytes, int bufferCount, int shareStream) {
  if (!SoundSystemStarted() || image == nullptr) return -1;
  bufferCount = std::clamp(bufferCount, 0, kMaxMemorySoundBuffers);
  if (GetSoundSystemState().createType == kSoundCreateMemory)
    return CreateMemorySound(image, imageBytes, bufferCount);

  int handle = AddSoundData(-1);
  if (handle == -1) return -1;
  if (AddStreamSoundMemory(image, imageBytes, 0, handle, GetSoundSystemState().createType, shareStream) !=
      0) {
    DeleteSoundHandle(handle, 0);
    return -1;
  }
  PrepareStreamSound(handle);
  return handle;
}

int MakeStreamSoundHandle() { return AddSoundData(-1); }

// ---- Handles -------------------------------------------------------------------------------

int DeleteSoundHandle(int handle, int) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? DeleteStreamSound(handle, record) : DeleteMemorySound(handle, record);
}

int CheckSoundHandlePlaying(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? CheckStreamSoundPlaying(handle) : CheckMemorySoundPlaying(record);
}

int GetSoundTotalSampleCount(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? record->totalSamples : GetMemorySoundSampleCount(record);
}

int SetCreateSoundDataType(int type) {
  if (!SoundSystemStarted()) return -1;
  if (type < kSoundCreateMemory || type > kSoundCreateTypeMax) return -1;
  GetSoundSystemState().createType = type;
  return 0;
}

int GetSoundKind(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? kSoundKindStream : kSoundKindMemory;
}

int GetSoundFormat(int handle, int* channels, int* bitsPerSample, int* samplesPerSec) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (channels != nullptr) *channels = record->format.nChannels;
  if (bitsPerSample != nullptr) *bitsPerSample = record->format.wBitsPerSample;
  if (samplesPerSec != nullptr) *samplesPerSec = static_cast<int>(record->format.nSamplesPerSec);
  return 0;
}

// ---- Play and stop ---------------------------------------------------------------------------

int PlaySoundHandle(int handle, int playType, int fromTop) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? PlayStreamSound(handle, playType, fromTop)
                           : PlayMemorySound(handle, record, playType, fromTop);
}

int StopSoundHandle(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? StopStreamSound(handle) : StopMemorySound(record);
}

// ---- Volume, position and loop point -----------------------------------------------------------

int SetSoundHandleVolume(int volume, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  SetSoundBuffersVolume(record, SoundVolumeToHundredthsDb(volume));
  return 0;
}

int SetSoundPlayPosition(int byteOffset, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? SetStreamSoundPositionBytes(byteOffset, handle)
                           : SetMemorySoundPosition(record, byteOffset);
}

int SetSoundPlayPositionMs(int milliseconds, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? SetStreamSoundPositionMs(milliseconds, handle)
                           : SetMemorySoundPositionMs(record, milliseconds);
}

int GetSoundPlayPosition(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  return IsStream(*record) ? GetStreamSoundPosition(handle) : GetMemorySoundPosition(record);
}

int SetSoundLoopPoint(int position, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  // Only a point inside the sound: the length of an Ogg Vorbis sound is its exact
  // decoded length, so a point past its audio is refused here too.
  if (position < 0 || GetSoundTotalSampleCount(handle) <= position) return -1;
  // Only stream sounds loop to a point: a memory sound becomes one, under its handle.
  if (!IsStream(*record)) {
    if (RebuildMemorySoundAsStream(handle, record) != 0) return -1;
    record = GetSoundHandleRecord(handle);
    if (record == nullptr) return -1;
  }
  return SetStreamSoundLoopPoint(record, position);
}

}  // namespace gamelib
