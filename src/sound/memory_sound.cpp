// Loading sound files as memory sounds, and playing and stopping sounds.
#include "sound/memory_sound.h"

#include <algorithm>
#include <cstring>

#include "gamelib/sound.h"
#include "sound/sound_buffers.h"
#include "sound/sound_convert.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

constexpr int kMaxMemorySoundBuffers = kSoundBuffersPerHandle;

int UsedBuffers(const SoundHandleRecord& record) {
  return std::clamp(record.bufferCount, 0, kMaxMemorySoundBuffers);
}

// The file or stream size, checked before anything that size is allocated.
bool AcceptableFileSize(std::int64_t size) { return size > 0 && size <= kMaxSoundFileBytes; }

}  // namespace

int LoadFileToMemory(const char* fileName, void** data, int* bytes) {
  if (fileName == nullptr || data == nullptr || bytes == nullptr) return -1;
  StreamHandle file = StreamOpen(fileName, 0, 1, 0);
  if (file == 0) return OutputLogFormat("右記のファイルのオープンに失敗しました：%s", fileName);
  std::int64_t size = -1;
  if (StreamSeek(file, 0, STREAM_SEEK_END) == 0) size = StreamTell(file);
  // Empty, unreadable and absurdly large files are refused before any allocation.
  if (!AcceptableFileSize(size) || StreamSeek(file, 0, STREAM_SEEK_SET) != 0) {
    StreamClose(file);
    return -1;
  }
  void* block = GAMELIB_ALLOC(static_cast<std::size_t>(size));
  if (block == nullptr) {
    OutputLogFormat("右記のファイルのロードに必要なメモリの確保に失敗しました：%s", fileName);
    StreamClose(file);
    return -1;
  }
  std::size_t got = StreamRead(block, 1, static_cast<std::size_t>(size), file);
  StreamClose(file);
  // A short read would hand uninitialised memory on as sound.
  if (got != static_cast<std::size_t>(size)) {
    FreeMemory(block);
    return -1;
  }
  *data = block;
  *bytes = static_cast<int>(size);
  return 0;
}

int ReadWholeStream(const StreamAccessRecord* stream, void** data, int* bytes) {
  if (stream == nullptr || data == nullptr || bytes == nullptr) return -1;
  const StreamFunctionTable& f = stream->functions;
  if (f.Seek == nullptr || f.Tell == nullptr || f.Read == nullptr) return -1;
  std::int64_t size = -1;
  if (f.Seek(stream->handle, 0, STREAM_SEEK_END) == 0) size = f.Tell(stream->handle);
  if (!AcceptableFileSize(size) || f.Seek(stream->handle, 0, STREAM_SEEK_SET) != 0) return -1;
  void* block = GAMELIB_ALLOC(static_cast<std::size_t>(size));
  if (block == nullptr) return OutputLogFormat("ストリームの読み込みに必要なメモリの確保に失敗しました");
  std::size_t got = f.Read(block, 1, static_cast<std::size_t>(size), stream->handle);
  if (got != static_cast<std::size_t>(size)) {
    FreeMemory(block);
    return -1;
  }
  *data = block;
  *bytes = static_cast<int>(size);
  return 0;
}

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
    DeleteSoundHandle(handle, 0);
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
  if (!platform::ValidPcmBuffer(format, static_cast<std::uint64_t>(pcmBytes))) return fail();
  if (CreateSoundBuffers(&format, static_cast<std::uint32_t>(pcmBytes), SOUND_KIND_MEMORY, bufferCount,
                         handle) != 0)
    return fail();

  record = GetSoundHandleRecord(handle);
  if (record == nullptr) return fail();
  std::memcpy(&record->format, &format, kWaveFormatBytes);
  record->data = pcm;
  record->dataBytes = static_cast<std::uint32_t>(pcmBytes);

  for (int i = 0; i < UsedBuffers(*record); ++i) {
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

int LoadSoundFile(const char* fileName, int bufferCount, int shareStream) {
  if (!SoundSystemStarted() || fileName == nullptr) return -1;
  bufferCount = std::clamp(bufferCount, 0, kMaxMemorySoundBuffers);

  if (GetSoundSystemState().createType != SOUND_CREATE_MEMORY) {
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

int PlaySoundHandle(int handle, int playType, int fromTop) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind == SOUND_KIND_STREAM) return PlayStreamSound(handle, playType, fromTop);

  const int count = UsedBuffers(*record);
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
  if (PlaySoundBufferWrapper(wrapper, playType == SOUND_PLAY_LOOP ? 1 : 0) != 0) return -1;

  if (playType == SOUND_PLAY_WAIT) {
    for (;;) {
      if (PumpWindowMessages() == -1) break;
      if (CheckSoundHandlePlaying(handle) != 1) break;
      Sleep(1);
    }
  }
  return 0;
}

int StopSoundHandle(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind == SOUND_KIND_STREAM) return StopStreamSound(handle);
  for (int i = 0; i < UsedBuffers(*record); ++i) {
    DWORD status = 0;
    if (GetSoundBufferWrapperStatus(&record->buffers[i], &status) != 0) return -1;
    if ((status & DSBSTATUS_PLAYING) != 0) StopSoundBufferWrapper(&record->buffers[i]);
  }
  return 0;
}

}  // namespace gamelib
