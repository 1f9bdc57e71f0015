// Shared by the converter fuzz targets. The compression-manager targets run one file
// through the converter, whole and block by block with seeks, loop points and failing
// manager calls chosen by a hash of the input (so seed files stay whole files). Any
// crash, overrun, endless output, broken invariant, leaked block or open decoder is a
// finding.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/memory.h"
#include "fuzz_input.h"
#include "gamelib/core.h"
#include "platform/sim.h"
#include "sound/convert_acm.h"
#include "sound/sound_convert.h"

namespace convert_fuzz {

using fuzz::Check;

struct Source {
  gamelib::StreamAccessRecord stream{};
  gamelib::SoundConvertRecord* converter = nullptr;
  Source(const std::uint8_t* data, std::size_t size) {
    converter =
        static_cast<gamelib::SoundConvertRecord*>(std::calloc(1, sizeof(gamelib::SoundConvertRecord)));
    stream.functions = *gamelib::GetMemoryStreamFunctions();
    stream.handle = gamelib::OpenMemoryStream(size == 0 ? nullptr : data, size);
  }
  ~Source() {
    gamelib::TerminateSoundConvert(converter);
    if (stream.handle != 0) gamelib::CloseMemoryStream(stream.handle);
    std::free(converter);
  }
  bool Setup() { return stream.handle != 0 && gamelib::SetupSoundConvert(&stream, converter) == 0; }
};

inline void CheckInvariants(const gamelib::SoundConvertRecord* c) {
  Check(c->blockOffset >= 0 && c->blockLeft >= 0 && c->blockOffset + c->blockLeft <= c->blockBytes);
  Check(c->outputPosition >= 0);
  if (c->convertKind == gamelib::kSoundConvertAcm) {
    const gamelib::SoundConvertAcmState& a = c->acm;
    Check(a.acmSourceUsed >= 0 && a.acmSourceUsed <= a.acmSourceBytes);
    Check(a.acmLoopSourceUsed >= 0 && a.acmLoopSourceUsed <= a.acmSourceBytes);
    Check(a.acmLoopBytes >= 0);
  }
}

// The whole conversion of a set-up converter: no more than the promised size, whole
// blocks in the converter's format, every byte readable.
inline void CheckWholeConversion(gamelib::SoundConvertRecord* c) {
  Check(platform::ValidPcmFormat(c->pcmFormat));
  int promised = gamelib::GetSoundConvertDestSize(c);
  Check(promised >= 0);
  WAVEFORMATEX format;
  void* pcm = nullptr;
  int bytes = 0;
  if (gamelib::ConvertSoundWhole(c, &format, &pcm, &bytes) == 0) {
    Check(pcm != nullptr && bytes > 0 && bytes <= promised);
    Check(bytes % format.nBlockAlign == 0);
    Check(std::memcmp(&format, &c->pcmFormat, gamelib::kWaveFormatBytes) == 0);
    // Touch every byte so that the sanitizer sees an overrun or uninitialised data.
    volatile unsigned sink = 0;
    for (int i = 0; i < bytes; ++i) sink = sink + static_cast<const std::uint8_t*>(pcm)[i];
    gamelib::FreeMemory(pcm);
  }
}

inline void Whole(const std::uint8_t* data, std::size_t size) {
  Source s(data, size);
  if (s.Setup()) CheckWholeConversion(s.converter);
}

// A seek target: the start, the end, inside or just past the data, or anywhere at all.
inline int SeekTarget(int frames, std::mt19937_64& random) {
  switch (random() % 4) {
    case 0:
      return 0;
    case 1:
      return frames;
    case 2:
      return static_cast<int>(random() % (static_cast<std::uint64_t>(frames) + 2));
    default:
      return static_cast<int>(random());
  }
}

inline void Blocks(const std::uint8_t* data, std::size_t size, std::mt19937_64& random) {
  // Some runs with manager calls that fail now and then.
  if (random() % 4 == 0) {
    static const char* const kCalls[] = {"acmStreamOpen",    "acmStreamPrepareHeader",
                                         "acmStreamConvert", "acmStreamSize",
                                         "acmMetrics",       "acmFormatSuggest"};
    sim::FailCall(kCalls[random() % 6], static_cast<int>(random() % 12) + 1,
                  static_cast<int>(random() % 3) + 1);
  }
  Source s(data, size);
  if (!s.Setup()) {
    sim::ClearFailures();
    return;
  }
  gamelib::SoundConvertRecord* c = s.converter;
  const int align = c->pcmFormat.nBlockAlign;
  const std::int64_t promised = gamelib::GetSoundConvertDestSize(c);
  const int frames = static_cast<int>(std::max<std::int64_t>(promised, 4096) / align);

  std::vector<std::uint8_t> piece(70000);
  std::int64_t sinceSeek = 0;
  for (int step = 0; step < 160; ++step) {
    switch (random() % 10) {
      case 0: {  // a seek: inside, at the edges of and outside the data
        Check(gamelib::SetSoundConvertPosition(c, SeekTarget(frames, random)) >= 0);
        sinceSeek = 0;
        break;
      }
      case 1: {  // a loop point, as the loop-point setter leaves it
        switch (random() % 4) {
          case 0:
            c->loopPointBytes = 0;
            break;
          case 1:
            c->loopPointBytes = static_cast<int>(random() % (static_cast<std::uint64_t>(frames) + 1)) * align;
            break;
          case 2:
            c->loopPointBytes = static_cast<int>(random() % 0x7FFFFFFF);
            break;
          default:
            c->loopPointBytes = -static_cast<int>(random() % 100000);
            break;
        }
        break;
      }
      default: {
        int want = static_cast<int>(random() % (random() % 2 ? 64 : piece.size()));
        int got = gamelib::ConvertSoundBlock(c, piece.data(), want);
        Check(got >= 0 && got <= want);
        sinceSeek += got;
        if (promised > 0) Check(sinceSeek <= promised);
        if (got == 0 && want > 0) Check(c->endReached == 1 || c->readFailed == 1);
        break;
      }
    }
    CheckInvariants(c);
    // MP3: never past the frames the scan counted; WAVE: past the manager's size.
    if (c->convertKind == gamelib::kSoundConvertAcm && promised > 0) Check(c->outputPosition <= promised);
  }
  sim::ClearFailures();
}

inline int Run(const std::uint8_t* data, std::size_t size) {
  if (size > (std::size_t{1} << 20)) return 0;
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  std::uint64_t hash = 1469598103934665603ull;
  for (std::size_t i = 0; i < size; i += 1 + size / 4096) hash = (hash ^ data[i]) * 1099511628211ull;
  std::mt19937_64 random(hash ^ size);
  Whole(data, size);
  Blocks(data, size, random);
  gamelib::MemoryUsage after = gamelib::GetMemoryUsage();
  Check(after.blocks == before.blocks && after.bytes == before.bytes);
  Check(sim::LiveAcmStreams() == 0);
  return 0;
}

}  // namespace convert_fuzz
