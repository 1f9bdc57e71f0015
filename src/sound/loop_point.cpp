// Loop points and in-memory WAVE file images. Only stream sounds loop to a point, so a
// memory sound given one is rebuilt as a stream sound of one file, under its handle.
#include <cstring>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

constexpr std::uint64_t kWaveImageHeaderBytes = 28;  // RIFF, size, WAVE, fmt id and size, data id and size

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The rebuild of a memory sound as a stream sound playing the same PCM. Whatever fails
// after the memory sound is deleted, the handle names an empty record (unless even
// that cannot be allocated).
int RebuildAsStreamSound(int handle, SoundHandleRecord* record) {
  void* image = nullptr;
  std::uint32_t imageBytes = 0;
  if (BuildWaveFileImage(&image, &imageBytes, &record->format, kWaveFormatBytes, record->data,
                         record->dataBytes) != 0) {
    return -1;  // nothing has changed yet
  }
  StopSoundHandle(handle);
  DeleteSoundHandle(handle, 0);
  int result = -1;
  StreamAccessRecord stream{};
  stream.functions = *GetMemoryStreamFunctions();
  if (AddSoundData(handle) == handle) {
    stream.handle = OpenMemoryStream(image, imageBytes);
    int callerMayClose = 1;
    if (stream.handle != 0 &&
        AddSreamSound(&stream, 0, handle, STREAM_DATA_WHOLE_PCM, &callerMayClose, -1) == 0) {
      result = 0;
    }
  }
  if (result != 0) OutputLog("ストリームサウンドハンドルの作成に失敗しました\n");
  if (stream.handle != 0) stream.functions.Close(stream.handle);
  FreeMemory(image);
  return result;
}

}  // namespace

int BuildWaveFileImage(void** image, std::uint32_t* imageBytes, const void* format, std::uint32_t formatBytes,
                       const void* data, std::uint32_t dataBytes) {
  if (image == nullptr || imageBytes == nullptr || (format == nullptr && formatBytes != 0) ||
      (data == nullptr && dataBytes != 0)) {
    return -1;
  }
  const std::uint64_t size = kWaveImageHeaderBytes + formatBytes + std::uint64_t{dataBytes};
  if (size > static_cast<std::uint64_t>(kMaxSoundFileBytes)) return -1;
  auto* block = static_cast<std::uint8_t*>(GAMELIB_ALLOC(static_cast<std::size_t>(size)));
  if (block == nullptr) return -1;
  std::uint8_t* p = block;
  std::memcpy(p, "RIFF", 4);
  PutLe32(p + 4, static_cast<std::uint32_t>(size - 8));
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  PutLe32(p + 16, formatBytes);
  p += 20;
  if (formatBytes != 0) std::memcpy(p, format, formatBytes);
  p += formatBytes;
  std::memcpy(p, "data", 4);
  PutLe32(p + 4, dataBytes);
  if (dataBytes != 0) std::memcpy(p + 8, data, dataBytes);
  *image = block;
  *imageBytes = static_cast<std::uint32_t>(size);
  return 0;
}

int SetSoundLoopPoint(int position, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  // Only a point inside the sound: the length of an Ogg Vorbis sound is its exact
  // decoded length, so a point past its audio is refused here too.
  if (position < 0 || GetSoundTotalSampleCount(handle) <= position) return -1;
  if (record->soundKind == SOUND_KIND_MEMORY) {
    if (RebuildAsStreamSound(handle, record) != 0) return -1;
    record = GetSoundHandleRecord(handle);
    if (record == nullptr) return -1;
  }
  if (record->fileCount >= 2) {
    return OutputLog(
        "二つ以上の音声ファイルから作成されたサウンドハンドルにループポイントを指定する事は出来ません\n");
  }
  if (record->fileCount != 1) return -1;
  SoundFileEntry& file = record->files[0];
  file.loopPoint = position;
  file.converter.loopPointBytes =
      static_cast<std::int32_t>(std::int64_t{file.converter.pcmFormat.nBlockAlign} * position);
  file.loopCount = kStreamLoopEndless;
  return 0;
}

}  // namespace gamelib
