// Memory sounds: loading from a file image, play, stop, position and deletion, and the
// rebuild as a stream sound.
#include "sound/memory_sound.h"

#include <algorithm>
#include <cstring>

#include "gamelib/sound_load.h"
#include "sound/sound_buffers.h"
#include "sound/sound_convert.h"
#include "sound/sound_handles.h"
#include "sound/sound_pcm_format.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

// The first buffer of a memory sound that is not playing, for a position change;
// null when all are playing, or when a status cannot be read (`failed` then set).
SoundBufferWrapper* IdleMemoryBuffer(SoundHandleRecord& record, bool* failed) {
  *failed = false;
  int used = UsedSoundBuffers(record);
  for (int i = 0; i < used; ++i) {
    DWORD status = 0;
    if (GetSoundBufferWrapperStatus(&record.buffers[i], &status) != 0) {
      *failed = true;
      return nullptr;
    }
    if ((status & DSBSTATUS_PLAYING) == 0) return &record.buffers[i];
  }
  return nullptr;
}

}  // namespace

int CreateMemorySound(const void* image, int imageBytes, int bufferCount) {
  if (!SoundSystemStarted()) return -1;
  if (bufferCount > kMaxMemorySoundBuffers) return -1;
  if (image == nullptr || imageBytes <= 0) return -1;
  bufferCount = std::max(bufferCount, 0);

  int handle = AddSoundData(-1);
  if (handle == -1) return -1;

  StreamAccessRecord stream{};
  stream.functions = *GetMemoryStreamFunctions();
  stream.handle = OpenMemoryStream(image, static_cast<std::size_t>(imageBytes));
  // Zero-filled, so that the failure path may terminate it whatever happened.
  auto* converter = static_cast<SoundConvertRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(SoundConvertRecord)));
  void* pcm = nullptr;
  int pcmBytes = 0;
  WAVEFORMATEX format{};
  SoundHandleRecord* record = nullptr;

  auto fail = [&]() {
    // The record frees what it owns; what it does not own yet goes here.
    if (record == nullptr || record->data != pcm) FreeMemory(pcm);
    if (SoundHandleRecord* made = GetSoundHandleRecord(handle)) DeleteMemorySound(handle, made);
    if (stream.handle != 0) CloseMemoryStream(stream.handle);
    if (converter != nullptr) {
      TerminateSoundConvert(converter);
      FreeMemory(converter);
    }
    return -1;
  };

  if (stream.handle == 0 || converter == nullptr) return fail();
  if (SetupSoundConvert(&stream, converter) != 0) {
    OutputLogFormat("音声ファイルのＰＣＭへの変換に失敗しました");
    return fail();
  }
  if (ConvertSoundWhole(converter, &format, &pcm, &pcmBytes) != 0) {
    OutputLogFormat("音声ファイルを格納するメモリ領域の確保に失敗しました");
    pcm = nullptr;
    return fail();
  }
  TerminateSoundConvert(converter);
  FreeMemory(converter);
  converter = nullptr;
  CloseMemoryStream(stream.handle);
  stream.handle = 0;

  // The buffers take whole sample frames; a format or size the device would refuse
  // is refused here, before the device is asked (so bad data never ends the process).
  pcmBytes -= pcmBytes % std::max<int>(format.nBlockAlign, 1);
  if (!ValidSoundPcmBuffer(format, static_cast<std::uint64_t>(pcmBytes))) return fail();
  if (CreateSoundBuffers(&format, static_cast<std::uint32_t>(pcmBytes), kSoundKindMemory, bufferCount,
                         handle) != 0)
    return fail();

  record = GetSoundHandleRecord(handle);
  if (record == nullptr) return fail();
  std::memcpy(&record->format, &format, kWaveFormatBytes);
  record->data = pcm;
  record->dataBytes = static_cast<std::uint32_t>(pcmBytes);

  for (int i = 0; i < UsedSoundBuffers(*record); ++i) {
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD bytes1 = 0;
    DWORD bytes2 = 0;
    if (LockSoundBufferWrapper(&record->buffers[i], 0, static_cast<DWORD>(pcmBytes), &part1, &bytes1, &part2,
                               &bytes2) != 0) {
      OutputLog("サウンドデータの転送に失敗しました_1");
      return fail();
    }
    // Only as much as was asked for, whatever lengths the lock reports.
    std::uint32_t first = std::min<std::uint32_t>(bytes1, static_cast<std::uint32_t>(pcmBytes));
    if (part1 != nullptr) std::memcpy(part1, pcm, first);
    if (part2 != nullptr) {
      std::uint32_t second = std::min<std::uint32_t>(bytes2, static_cast<std::uint32_t>(pcmBytes) - first);
      std::memcpy(part2, static_cast<const std::uint8_t*>(pcm) + first, second);
    }
    if (UnlockSoundBufferWrapper(&record->buffers[i], part1, bytes1, part2, bytes2) != 0) {
      OutputLog("サウンドデータの転送に失敗しました_2");
      return fail();
    }
  }
  return handle;
}

int PlayMemorySound(int handle, SoundHandleRecord* record, int playType, int fromTop) {
  const int count = UsedSoundBuffers(*record);
  if (count == 0) return -1;
  int previous = record->nextBuffer;
  DWORD resume = 0;
  if (previous >= 0 && previous < count && record->buffers[previous].valid) {
    DWORD play = 0;
    DWORD write = 0;
    if (record->buffers[previous].buffer->GetCurrentPosition(&play, &write) == DS_OK) resume = play;
  }
  int next = previous + 1;
  if (next < 0 || next >= count) next = 0;
  record->nextBuffer = next;
  SoundBufferWrapper* wrapper = &record->buffers[next];

  DWORD status = 0;
  if (GetSoundBufferWrapperStatus(wrapper, &status) != 0) return -1;
  if ((status & DSBSTATUS_PLAYING) != 0) {
    if (fromTop == 0) return 0;
    StopSoundBufferWrapper(wrapper);
  }
  SetSoundBufferWrapperPosition(wrapper, fromTop == 1 ? 0 : resume);
  if (PlaySoundBufferWrapper(wrapper, playType == kSoundPlayLoop ? 1 : 0) != 0) return -1;

  if (playType == kSoundPlayWait) {
    for (;;) {
      if (PumpWindowMessages() == -1) break;
      const SoundHandleRecord* now = GetSoundHandleRecord(handle);
      if (now == nullptr || CheckMemorySoundPlaying(now) != 1) break;
      Sleep(1);
    }
  }
  return 0;
}

int StopMemorySound(SoundHandleRecord* record) {
  for (int i = 0; i < UsedSoundBuffers(*record); ++i) {
    DWORD status = 0;
    if (GetSoundBufferWrapperStatus(&record->buffers[i], &status) != 0) return -1;
    if ((status & DSBSTATUS_PLAYING) != 0) StopSoundBufferWrapper(&record->buffers[i]);
  }
  return 0;
}

int CheckMemorySoundPlaying(const SoundHandleRecord* record) {
  int used = UsedSoundBuffers(*record);
  for (int i = 0; i < used; ++i) {
    DWORD status = 0;
    if (GetSoundBufferWrapperStatus(&record->buffers[i], &status) != 0) continue;
    if ((status & DSBSTATUS_PLAYING) != 0) return 1;
  }
  return 0;
}

int GetMemorySoundSampleCount(const SoundHandleRecord* record) {
  // An empty record (no format yet) has no samples.
  if (record->format.nBlockAlign == 0) return 0;
  return static_cast<int>(record->dataBytes / record->format.nBlockAlign);
}

int SetMemorySoundPosition(SoundHandleRecord* record, int byteOffset) {
  if (byteOffset < 0 || static_cast<std::uint32_t>(byteOffset) >= record->dataBytes) return -1;
  bool failed = false;
  SoundBufferWrapper* wrapper = IdleMemoryBuffer(*record, &failed);
  if (wrapper == nullptr) return -1;
  return SetSoundBufferWrapperPosition(wrapper, static_cast<DWORD>(byteOffset));
}

int SetMemorySoundPositionMs(SoundHandleRecord* record, int milliseconds) {
  if (milliseconds < 0) return -1;
  bool failed = false;
  SoundBufferWrapper* wrapper = IdleMemoryBuffer(*record, &failed);
  if (wrapper == nullptr) return -1;
  // In double from the first product: the integer product would wrap after about 97 s.
  double offset =
      static_cast<double>(record->format.nSamplesPerSec) * milliseconds * 0.001 * record->format.nBlockAlign;
  if (!(offset < static_cast<double>(record->dataBytes))) return -1;
  return SetSoundBufferWrapperPosition(wrapper, static_cast<DWORD>(offset));
}

int GetMemorySoundPosition(SoundHandleRecord* record) {
  SoundBufferWrapper& first = record->buffers[0];
  if (first.valid == 0) return -1;
  DWORD play = 0;
  if (FAILED(first.buffer->GetCurrentPosition(&play, nullptr))) return -1;
  return static_cast<int>(play);
}

int DeleteMemorySound(int handle, SoundHandleRecord* record) {
  int used = UsedSoundBuffers(*record);
  for (int i = 0; i < used; ++i) {
    if (record->buffers[i].valid) StopSoundBufferWrapper(&record->buffers[i]);
  }
  if (record->data != nullptr) {
    FreeMemory(record->data);
    record->data = nullptr;
  }
  ReleaseSoundBuffers(record);
  FreeSoundHandleRecord(handle, record);
  return 0;
}

// Whatever fails after the memory sound is deleted, the handle names an empty record
// (unless even that cannot be allocated).
int RebuildMemorySoundAsStream(int handle, SoundHandleRecord* record) {
  void* image = nullptr;
  std::uint32_t imageBytes = 0;
  if (BuildWaveFileImage(&image, &imageBytes, &record->format, kWaveFormatBytes, record->data,
                         record->dataBytes) != 0) {
    return -1;  // nothing has changed yet
  }
  StopMemorySound(record);
  DeleteMemorySound(handle, record);
  int result = -1;
  StreamAccessRecord stream{};
  stream.functions = *GetMemoryStreamFunctions();
  if (AddSoundData(handle) == handle) {
    stream.handle = OpenMemoryStream(image, imageBytes);
    int callerMayClose = 1;
    if (stream.handle != 0 &&
        AddSreamSound(&stream, 0, handle, kStreamDataWholePcm, &callerMayClose, -1) == 0) {
      result = 0;
    }
  }
  if (result != 0) OutputLog("ストリームサウンドハンドルの作成に失敗しました\n");
  if (stream.handle != 0) stream.functions.Close(stream.handle);
  FreeMemory(image);
  return result;
}

}  // namespace gamelib
