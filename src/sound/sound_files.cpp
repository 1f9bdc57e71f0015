// Whole sound files read into library memory, and WAVE file images built there. Every
// size here is checked before that much is allocated.
#include "sound/sound_files.h"

#include <cstring>

#include "sound/sound_convert.h"

namespace gamelib {
namespace {

constexpr std::uint64_t kWaveImageHeaderBytes = 28;  // RIFF, size, WAVE, fmt id and size, data id and size

// The file or stream size, checked before anything that size is allocated.
bool AcceptableFileSize(std::int64_t size) { return size > 0 && size <= kMaxSoundFileBytes; }

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

int LoadFileToMemory(const char* fileName, void** data, int* bytes) {
  if (fileName == nullptr || data == nullptr || bytes == nullptr) return -1;
  StreamHandle file = StreamOpen(fileName, 0, 1, 0);
  if (file == 0) return OutputLogFormat("右記のファイルのオープンに失敗しました：%s", fileName);
  std::int64_t size = -1;
  if (StreamSeek(file, 0, kStreamSeekEnd) == 0) size = StreamTell(file);
  // Empty, unreadable and absurdly large files are refused before any allocation.
  if (!AcceptableFileSize(size) || StreamSeek(file, 0, kStreamSeekSet) != 0) {
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
  if (f.Seek(stream->handle, 0, kStreamSeekEnd) == 0) size = f.Tell(stream->handle);
  if (!AcceptableFileSize(size) || f.Seek(stream->handle, 0, kStreamSeekSet) != 0) return -1;
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

}  // namespace gamelib
