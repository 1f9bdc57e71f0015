// RIFF WAVE with PCM data: the fmt chunk must come first; other chunks up to "data"
// are skipped (odd sizes padded). Every size here comes from the file, so each is
// checked against the stream's real length before it is read or allocated.
#include <algorithm>
#include <cstring>

#include "sound/convert_kinds.h"

namespace gamelib {
namespace {

int ConvertPcmBlock(SoundConvertRecord* c) {
  const std::int64_t at = ConvertStreamTell(c);
  if (at < 0) return kConvertFailed;
  std::int64_t consumed = at - c->dataChunkPosition;
  if (consumed < 0 || consumed >= c->dataChunkBytes) return -1;
  std::int64_t n = std::min<std::int64_t>(c->dataChunkBytes - consumed, c->blockBytes);
  std::int64_t got = ConvertStreamRead(c, c->blockBuffer, n);
  // The data chunk was cut to the stream's length: what is not read now is still there.
  if (got <= 0) return kConvertFailed;
  c->blockLeft = static_cast<std::int32_t>(got);
  return 0;
}

int SetPcmConvertPosition(SoundConvertRecord* c, int sample) {
  // Kept inside the data: before it lies the header, after it whatever follows.
  std::int64_t frames = c->dataChunkBytes / c->pcmFormat.nBlockAlign;
  std::int64_t target = std::clamp<std::int64_t>(sample, 0, frames) * c->pcmFormat.nBlockAlign;
  c->outputPosition = static_cast<std::int32_t>(target);
  c->blockLeft = c->blockOffset = 0;
  return ConvertStreamSeek(c, c->dataChunkPosition + target, kStreamSeekSet) == 0 ? 0 : kConvertFailed;
}

int TerminatePcmConvert(SoundConvertRecord*) { return 0; }  // nothing of its own

int GetPcmConvertDestSize(SoundConvertRecord* c) { return c->dataChunkBytes; }

std::int64_t GetPcmConvertPcmBytes(const SoundConvertRecord* c) { return c->dataChunkBytes; }

// One read of the whole data chunk, from its first byte whatever was read before (the
// block reader reads ahead, so the stream may stand past the position).
int ConvertPcmWhole(SoundConvertRecord* c, void* block, int bytes) {
  if (SetPcmConvertPosition(c, 0) != 0) return kConvertFailed;
  c->endReached = 0;
  std::int64_t got = ConvertStreamRead(c, block, bytes);
  // All of the data chunk is in the stream: a short read is a failure, not a short sound.
  if (got < std::min<std::int64_t>(bytes, c->dataChunkBytes)) return kConvertFailed;
  const int produced = static_cast<int>(got - got % c->pcmFormat.nBlockAlign);
  c->outputPosition = produced;
  return produced;
}

}  // namespace

const SoundConvertOps kWavePcmConvertOps = {
    kSoundConvertWavePcm,  ConvertPcmBlock,       SetPcmConvertPosition, TerminatePcmConvert,
    GetPcmConvertDestSize, GetPcmConvertPcmBytes, ConvertPcmWhole};

int SetupWavePcmConvert(SoundConvertRecord* c) {
  std::int64_t length = ConvertStreamLength(c);
  if (length < 12 || length > kMaxSoundFileBytes) return -1;

  std::int64_t fmtBytes = 0;
  std::int64_t fmtPosition = 0;
  if (ReadWaveFmtHeader(c, length, &fmtBytes, &fmtPosition) != 0) return -1;
  auto* body = static_cast<unsigned char*>(
      GAMELIB_ALLOC_ZEROED(static_cast<std::size_t>(std::max<std::int64_t>(fmtBytes, kWaveFormatBytes))));
  if (body == nullptr) return -1;
  bool bodyRead = ConvertStreamReadExact(c, body, fmtBytes);
  WAVEFORMATEX format;
  std::memcpy(&format, body, kWaveFormatBytes);
  FreeMemory(body);
  if (!bodyRead || format.wFormatTag != WAVE_FORMAT_PCM) return -1;
  if (fmtBytes == 16) {
    // Some writers leave wBitsPerSample 0; the block size says what it is.
    if (format.nChannels == 0) return -1;
    format.cbSize = 0;
    format.wBitsPerSample = static_cast<WORD>(format.nBlockAlign / format.nChannels * 8);
  }
  if (!ValidSoundPcmFormat(format)) return -1;

  std::int64_t position = 0;
  std::int64_t dataBytes = 0;
  if (FindWaveDataChunk(c, fmtPosition + fmtBytes, length, &position, &dataBytes) != 0) return -1;
  // The data is whole sample frames.
  dataBytes -= dataBytes % format.nBlockAlign;

  c->fmtChunkPosition = static_cast<std::int32_t>(fmtPosition);
  c->fmtChunkBytes = static_cast<std::int32_t>(fmtBytes);
  c->dataChunkPosition = static_cast<std::int32_t>(position);
  c->dataChunkBytes = static_cast<std::int32_t>(dataBytes);
  std::memset(&c->pcmFormat, 0, sizeof c->pcmFormat);
  std::memcpy(&c->pcmFormat, &format, kWaveFormatBytes);
  c->blockBytes = static_cast<std::int32_t>(format.nAvgBytesPerSec);
  return 0;
}

}  // namespace gamelib
