// The converter record: its set-up with the format trials in order, block conversion,
// seeking, sizes and release through the operations of the kind the set-up chose.
#include "sound/sound_convert.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "sound/convert_kinds.h"

namespace gamelib {

std::int64_t ConvertStreamTell(SoundConvertRecord* c) {
  const StreamAccessRecord& s = c->sourceStream;
  return s.functions.Tell == nullptr ? -1 : s.functions.Tell(s.handle);
}

int ConvertStreamSeek(SoundConvertRecord* c, std::int64_t offset, int origin) {
  const StreamAccessRecord& s = c->sourceStream;
  return s.functions.Seek == nullptr ? -1 : s.functions.Seek(s.handle, offset, origin);
}

std::int64_t ConvertStreamRead(SoundConvertRecord* c, void* buffer, std::int64_t bytes) {
  const StreamAccessRecord& s = c->sourceStream;
  if (s.functions.Read == nullptr || bytes <= 0) return 0;
  std::size_t got = s.functions.Read(buffer, 1, static_cast<std::size_t>(bytes), s.handle);
  return got > static_cast<std::size_t>(bytes) ? bytes : static_cast<std::int64_t>(got);
}

std::int64_t ConvertStreamLength(SoundConvertRecord* c) {
  std::int64_t here = ConvertStreamTell(c);
  if (here < 0 || ConvertStreamSeek(c, 0, kStreamSeekEnd) != 0) return -1;
  std::int64_t length = ConvertStreamTell(c);
  if (ConvertStreamSeek(c, here, kStreamSeekSet) != 0) return -1;
  return length;
}

bool ConvertStreamReadExact(SoundConvertRecord* c, void* buffer, std::int64_t bytes) {
  return ConvertStreamRead(c, buffer, bytes) == bytes;
}

namespace {

std::uint32_t ReadLe32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

}  // namespace

int ReadWaveFmtHeader(SoundConvertRecord* c, std::int64_t length, std::int64_t* fmtBytes,
                      std::int64_t* fmtPosition) {
  unsigned char header[8];
  if (!ConvertStreamReadExact(c, header, 8) || std::memcmp(header, "RIFF", 4) != 0) return -1;
  if (!ConvertStreamReadExact(c, header, 4) || std::memcmp(header, "WAVE", 4) != 0) return -1;
  if (!ConvertStreamReadExact(c, header, 8) || std::memcmp(header, "fmt ", 4) != 0) return -1;
  const std::int64_t bytes = ReadLe32(header + 4);
  const std::int64_t position = ConvertStreamTell(c);
  if (bytes < 16 || bytes > kMaxFmtChunkBytes || position < 0 || position + bytes > length) return -1;
  *fmtBytes = bytes;
  *fmtPosition = position;
  return 0;
}

int FindWaveDataChunk(SoundConvertRecord* c, std::int64_t from, std::int64_t length,
                      std::int64_t* dataPosition, std::int64_t* dataBytes) {
  unsigned char header[8];
  std::int64_t position = from;
  std::int64_t bytes = -1;
  for (int chunk = 0; chunk < kMaxRiffChunks && position + 8 <= length; ++chunk) {
    if (ConvertStreamSeek(c, position, kStreamSeekSet) != 0 || !ConvertStreamReadExact(c, header, 8))
      return -1;
    const std::int64_t size = ReadLe32(header + 4);
    if (std::memcmp(header, "data", 4) == 0) {
      bytes = size;
      position += 8;
      break;
    }
    const std::int64_t next = position + 8 + size + (size & 1);
    if (next > length) return -1;
    position = next;
  }
  // No data chunk, or a data chunk header that ends the file.
  if (bytes < 0 || position >= length) return -1;
  *dataPosition = position;
  *dataBytes = std::min(bytes, length - position);
  return 0;
}

int SetupSoundConvert(const StreamAccessRecord* stream, SoundConvertRecord* c) {
  if (stream == nullptr || c == nullptr) return -1;
  c->sourceStream = *stream;
  c->loopPointBytes = 0;

  // The trials in order, each with the operations of the kind it sets up.
  struct Trial {
    int (*setup)(SoundConvertRecord*);
    const SoundConvertOps* ops;
  };
  static constexpr Trial kTrials[] = {{SetupWavePcmConvert, &kWavePcmConvertOps},
                                      {SetupWaveAcmConvert, &kAcmConvertOps},
                                      {SetupOggSoundConvert, &kOggConvertOps},
                                      {SetupMp3AcmConvert, &kAcmConvertOps}};
  const Trial* accepted = nullptr;
  for (const Trial& trial : kTrials) {
    if (ConvertStreamSeek(c, 0, kStreamSeekSet) != 0) return -1;
    if (trial.setup(c) == 0) {
      accepted = &trial;
      break;
    }
  }
  if (accepted == nullptr) return -1;
  c->ops = accepted->ops;
  c->convertKind = accepted->ops->kind;

  c->initialised = 0;
  c->endReached = 0;
  c->blockBuffer = static_cast<std::uint8_t*>(GAMELIB_ALLOC(static_cast<std::size_t>(c->blockBytes)));
  if (c->blockBuffer == nullptr) {
    // The trial's decoder state would leak otherwise: terminate needs `initialised`.
    c->ops->terminate(c);
    return -1;
  }
  c->blockLeft = c->blockOffset = c->outputPosition = 0;
  c->readFailed = c->seekPending = c->seekSample = 0;
  c->loopTail = nullptr;
  c->loopTailBytes = c->loopTailState = c->loopTailOffset = c->loopTailServing = 0;
  c->initialised = 1;
  return 0;
}

namespace {

// The output leaves the loop tail: the decoder stands where it stopped, at its end.
void StopServingLoopTail(SoundConvertRecord* c) {
  if (c->loopTailServing != 1) return;
  c->loopTailServing = 0;
  c->outputPosition = c->decoderPosition;
  c->blockLeft = c->blockOffset = 0;
}

void DropLoopTail(SoundConvertRecord* c) {
  StopServingLoopTail(c);
  if (c->loopTail != nullptr) FreeMemory(c->loopTail);
  c->loopTail = nullptr;
  c->loopTailBytes = c->loopTailState = c->loopTailOffset = 0;
}

// The kind's seek; one the platform failed is made again before the next conversion.
void KindSetPosition(SoundConvertRecord* c, int sample) {
  StopServingLoopTail(c);
  c->seekPending = 0;
  if (c->ops->setPosition(c, sample) == kConvertFailed) {
    c->seekPending = 1;
    c->seekSample = sample;
  }
}

// Output from the loop tail: up to `bytes`, the end reported once it is used up.
int ServeLoopTail(SoundConvertRecord* c, std::uint8_t* out, int bytes) {
  const int n = std::min(bytes, c->loopTailBytes - c->loopTailOffset);
  if (n <= 0) {
    c->endReached = 1;
    return 0;
  }
  std::memcpy(out, c->loopTail + c->loopTailOffset, static_cast<std::size_t>(n));
  c->loopTailOffset += n;
  c->outputPosition += n;
  return n;
}

}  // namespace

// The block conversion. With `direct`, a refill made while a whole block or more is
// still wanted goes straight into the destination (the same refills, one copy fewer);
// a failed refill may then leave bytes past the written count, so only a caller that
// reads nothing past it asks for that.
static int ConvertBlocks(SoundConvertRecord* c, void* destination, int bytes, bool direct) {
  if (c == nullptr || c->initialised != 1) return -1;
  c->readFailed = 0;
  if (c->endReached == 1 || bytes == 0) return 0;
  if (bytes < 0 || destination == nullptr) return -1;
  if (c->seekPending == 1) {
    if (c->ops->setPosition(c, c->seekSample) == kConvertFailed) {
      c->readFailed = 1;
      return 0;
    }
    c->seekPending = 0;
  }

  auto* out = static_cast<std::uint8_t*>(destination);
  if (c->loopTailServing == 1) return ServeLoopTail(c, out, bytes);
  int written = 0;
  while (bytes > 0) {
    if (c->blockLeft <= 0) {
      c->blockLeft = 0;
      c->blockOffset = 0;
      std::uint8_t* const block = c->blockBuffer;
      const bool here = direct && bytes >= c->blockBytes;
      if (here) c->blockBuffer = out + written;
      int refill = c->ops->convertBlock(c);
      c->blockBuffer = block;
      if (refill == kConvertFailed) {
        // Tried again by the next conversion: the data is still there.
        c->blockLeft = 0;
        c->readFailed = 1;
        return written;
      }
      // A refill that reports data but yields none would spin here for ever.
      if (refill == -1 || c->blockLeft <= 0 || c->blockLeft > c->blockBytes) {
        c->blockLeft = 0;
        c->endReached = 1;
        return written;
      }
      if (here) {
        // All of it is taken, as the copy below would take it.
        const int n = c->blockLeft;
        c->outputPosition += n;
        c->blockOffset = n;
        c->blockLeft = 0;
        bytes -= n;
        written += n;
        continue;
      }
    }
    int n = std::min(c->blockLeft, bytes);
    std::memcpy(out + written, c->blockBuffer + c->blockOffset, static_cast<std::size_t>(n));
    c->outputPosition += n;
    c->blockLeft -= n;
    c->blockOffset += n;
    bytes -= n;
    written += n;
  }
  return written;
}

int ConvertSoundBlock(SoundConvertRecord* c, void* destination, int bytes) {
  return ConvertBlocks(c, destination, bytes, false);
}

int SetSoundConvertPosition(SoundConvertRecord* c, int sample) {
  if (c == nullptr || c->initialised != 1) return -1;
  std::int64_t distance = std::int64_t{c->pcmFormat.nBlockAlign} * sample - c->outputPosition;
  if (distance > -16 && distance < 16) return 0;
  KindSetPosition(c, sample);
  c->endReached = 0;
  return 0;
}

namespace {

// How long a part from the loop point to the end is held in memory: looping back to the
// point then costs no seek of the decoder, however short the loop.
std::int64_t LoopTailLimit(const SoundConvertRecord* c) {
  const std::int64_t align = std::max<std::int64_t>(c->pcmFormat.nBlockAlign, 1);
  return std::max<std::int64_t>(c->pcmFormat.nAvgBytesPerSec / 16, 4096) / align * align;
}

// A loop back to the loop point from the data's end: from the loop tail (1), with the
// decoder moved there (0), or not a loop that the tail serves (-1).
int LoopFromTail(SoundConvertRecord* c, int sample) {
  const std::int64_t target = std::int64_t{c->pcmFormat.nBlockAlign} * sample;
  if (c->loopPointBytes <= 0 || target != c->loopPointBytes || c->loopTailState == -1) return -1;
  if (c->loopTailState == 0) {
    const std::int64_t limit = LoopTailLimit(c), length = c->ops->pcmBytes(c);
    if (length - target > limit) {
      c->loopTailState = -1;
      return -1;
    }
    // Decoded once, from the point to the end.
    const std::int64_t room = limit + std::max<int>(c->pcmFormat.nBlockAlign, 1);
    auto* tail = static_cast<std::uint8_t*>(GAMELIB_ALLOC(static_cast<std::size_t>(room)));
    if (tail == nullptr) return -1;
    KindSetPosition(c, sample);
    c->endReached = 0;
    const int got = ConvertBlocks(c, tail, static_cast<int>(room), false);
    if (c->readFailed == 1 || c->endReached != 1 || got > limit) {
      // Longer than it said, or not readable now: the decoder serves the loop.
      FreeMemory(tail);
      if (c->readFailed != 1) c->loopTailState = -1;
      KindSetPosition(c, sample);
      c->endReached = 0;
      return 0;
    }
    // A tail of a few samples is held repeated, so that each pass round it moves a few
    // kilobytes, not a few bytes.
    int held = got;
    while (got > 0 && held + got <= room && held < 4096) {
      std::memcpy(tail + held, tail, static_cast<std::size_t>(got));
      held += got;
    }
    c->loopTail = tail;
    c->loopTailBytes = held;
    c->loopTailState = 1;
  }
  // The decoder stays at its end while the tail is served.
  if (c->loopTailServing != 1) c->decoderPosition = c->outputPosition;
  c->loopTailServing = 1;
  c->loopTailOffset = 0;
  c->outputPosition = static_cast<std::int32_t>(target);
  c->blockLeft = c->blockOffset = 0;
  c->endReached = 0;
  return 1;
}

}  // namespace

int SeekSoundConvert(SoundConvertRecord* c, std::int64_t sample) {
  if (c == nullptr || c->initialised != 1) return -1;
  if (sample < 0) sample = 0;
  if (sample > INT32_MAX) sample = INT32_MAX;
  if (c->endReached != 1) return SetSoundConvertPosition(c, static_cast<int>(sample));
  // At its end the converter must move even to a sample a few bytes away: a loop to a
  // point just before the end would otherwise find no data at all.
  if (LoopFromTail(c, static_cast<int>(sample)) >= 0) return 0;
  KindSetPosition(c, static_cast<int>(sample));
  c->endReached = 0;
  return 0;
}

int MoveSoundConvert(SoundConvertRecord* c, std::int64_t sample) {
  if (c == nullptr || c->initialised != 1) return -1;
  KindSetPosition(c, static_cast<int>(std::clamp<std::int64_t>(sample, 0, INT32_MAX)));
  c->endReached = 0;
  return 0;
}

int TerminateSoundConvert(SoundConvertRecord* c) {
  if (c == nullptr || c->initialised != 1) return -1;
  if (c->blockBuffer != nullptr) {
    FreeMemory(c->blockBuffer);
    c->blockBuffer = nullptr;
  }
  DropLoopTail(c);
  c->ops->terminate(c);
  c->initialised = 0;
  return 0;
}

int GetSoundConvertFormat(const SoundConvertRecord* c, WAVEFORMATEX* format) {
  if (c == nullptr || format == nullptr) return -1;
  std::memcpy(format, &c->pcmFormat, kWaveFormatBytes);
  return 0;
}

int GetSoundConvertDestSize(SoundConvertRecord* c) {
  if (c == nullptr || c->ops == nullptr) return 0;
  return c->ops->destSize(c);
}

std::int64_t GetSoundConvertPcmBytes(const SoundConvertRecord* c) {
  if (c == nullptr || c->ops == nullptr) return 0;
  return std::max<std::int64_t>(c->ops->pcmBytes(c), 0);
}

int ConvertSoundWhole(SoundConvertRecord* c, WAVEFORMATEX* format, void** data, int* bytes) {
  if (c == nullptr || c->initialised != 1 || format == nullptr || data == nullptr || bytes == nullptr)
    return -1;
  int size = GetSoundConvertDestSize(c);
  if (size <= 0) return -1;
  void* block = GAMELIB_ALLOC(static_cast<std::size_t>(size));
  if (block == nullptr) return -1;

  int produced;
  if (c->ops->convertWhole != nullptr) {
    StopServingLoopTail(c);
    produced = c->ops->convertWhole(c, block, size);
  } else {
    if (c->outputPosition != 0 || c->blockOffset != 0 || c->endReached != 0 || c->loopTailServing != 0) {
      KindSetPosition(c, 0);
      c->endReached = 0;
    }
    // The block is new and nothing past `produced` is read: the kinds decode into it.
    produced = ConvertBlocks(c, block, size, true);
    // A failure part-way is no sound, not a shortened one.
    if (c->readFailed == 1 || c->seekPending == 1) produced = -1;
  }
  // Nothing converted (an empty data chunk, a stream with no audio) is no sound.
  if (produced <= 0) {
    FreeMemory(block);
    return -1;
  }
  std::memcpy(format, &c->pcmFormat, kWaveFormatBytes);
  *data = block;
  *bytes = produced;
  return 0;
}

void SetSoundConvertLoopPoint(SoundConvertRecord* c, int sample) {
  if (c == nullptr) return;
  const auto bytes = static_cast<std::int32_t>(std::int64_t{c->pcmFormat.nBlockAlign} * sample);
  if (bytes != c->loopPointBytes && c->initialised == 1) {
    // The tail held belongs to the old point; output served from it goes on from the decoder.
    const bool serving = c->loopTailServing == 1;
    const std::int64_t at = c->outputPosition;
    DropLoopTail(c);
    if (serving) MoveSoundConvert(c, at / std::max<int>(c->pcmFormat.nBlockAlign, 1));
  }
  c->loopPointBytes = bytes;
}

void CloseSoundConvertSource(SoundConvertRecord* c) {
  if (c == nullptr) return;
  StreamAccessRecord& stream = c->sourceStream;
  if (stream.handle != 0 && stream.functions.Close != nullptr) stream.functions.Close(stream.handle);
  stream.handle = 0;
}

}  // namespace gamelib
