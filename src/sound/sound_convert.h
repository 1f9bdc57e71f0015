// The sound converter: set up on an open stream, it recognises a sound file's format
// and hands out its PCM block by block, from a sample position, or whole. Kinds: RIFF
// WAVE PCM, the compression manager (compressed WAVE and MP3), and Ogg Vorbis; the
// set-up picks the kind's operations, and everything below goes through them.
// Records of this type are embedded in sound handles; vorbisfile keeps pointers into
// a set-up record, so it must never be moved or copied once set up.
#pragma once

#include <cstdint>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "gamelib/core.h"
#include "platform/pcm_format.h"

namespace gamelib {

// Kinds of a converter (`convertKind`).
constexpr int kSoundConvertWavePcm = 0;
constexpr int kSoundConvertAcm = 1;
constexpr int kSoundConvertOgg = 2;

// Limits on what a file may make the library allocate or read. Every size a file
// controls is checked against them, in 64 bits, before it is used.
constexpr std::int64_t kMaxSoundFileBytes = std::int64_t{1} << 30;
constexpr std::int64_t kMaxPcmBytes = std::int64_t{1} << 30;
constexpr std::int64_t kMaxFmtChunkBytes = 65535 + 18;
constexpr int kMaxRiffChunks = 65536;
constexpr int kWaveFormatBytes = WAVEFORMATEX_BYTES;  // as stored, copied and compared

// State of the compression-manager kind.
struct SoundConvertAcmState {
  WAVEFORMATEX* acmSourceFormat;
  void* acmStream;
  void* acmLoopStream;
  void* acmSourceData;
  std::int32_t acmSourceBytes;
  std::int32_t acmSourceUsed;
  std::int32_t acmKnownSamples;
  std::int32_t acmLoopSourceUsed;
  std::int32_t acmLoopBytes;
  void* acmLoopBuffer;
  std::int64_t acmStreamPcmBytes;  // the manager's PCM size of the whole data (WAVE)
};

// State of the Ogg Vorbis kind.
struct SoundConvertOggState {
  std::int32_t oggOpen;
  OggVorbis_File oggFile;
  std::int32_t oggBytesPerSample;
  std::int32_t oggExhausted;   // positioned at or past the end: nothing more to decode
  std::int32_t oggSeekFailed;  // the decoder is opened afresh before the next seek
};

// The operations of one kind (sound/convert_kinds.h).
struct SoundConvertOps;

// Zero-filled before use, like the records that hold it.
struct SoundConvertRecord {
  std::int32_t initialised;         // 1 after a successful set-up
  std::int32_t endReached;          // 1 once a block conversion reported the end
  std::int32_t convertKind;         // SOUND_CONVERT_*: the kind of `ops`
  const SoundConvertOps* ops;       // chosen by the set-up; null before the first one
  StreamAccessRecord sourceStream;  // the caller's stream; read only, never closed here
  std::int32_t fmtChunkPosition;
  std::int32_t fmtChunkBytes;
  std::int32_t dataChunkPosition;
  std::int32_t dataChunkBytes;
  WAVEFORMATEX pcmFormat;  // of the PCM handed out
  union {                  // the kinds share this storage
    SoundConvertAcmState acm;
    SoundConvertOggState ogg;
  };
  std::uint8_t* blockBuffer;  // converted PCM (library allocator)
  std::int32_t blockBytes;
  std::int32_t blockLeft;
  std::int32_t blockOffset;
  std::int32_t outputPosition;
  std::int32_t loopPointBytes;
  // A conversion or seek that the platform failed: the data is still there, and the next
  // conversion tries again (a seek first, when one is pending).
  std::int32_t readFailed;  // the last conversion stopped at a failure, not at the end
  std::int32_t seekPending;
  std::int32_t seekSample;
  // A short part from the loop point to the end, decoded once and repeated from memory.
  std::uint8_t* loopTail;
  std::int32_t loopTailBytes;
  std::int32_t loopTailState;    // 0 not tried, 1 held, -1 too long for it
  std::int32_t loopTailOffset;   // where the output stands in it while served from it
  std::int32_t loopTailServing;  // 1 while the output comes from loopTail
  std::int32_t decoderPosition;  // the decoder's own outputPosition meanwhile (its end)
};

// All 0 or -1 unless said otherwise.
int SetupSoundConvert(const StreamAccessRecord* stream, SoundConvertRecord* converter);
// Bytes written (0 at the end of the data, or at a failure: `readFailed` then tells),
// -1 when not set up.
int ConvertSoundBlock(SoundConvertRecord* converter, void* destination, int bytes);
// Skipped (0, the end flag kept) when the converter stands within 16 bytes of the sample.
int SetSoundConvertPosition(SoundConvertRecord* converter, int sample);
// Moves a converter to a sample (clamped to 0..INT32_MAX); unlike SetSoundConvertPosition
// it also moves a converter that stands at its end within a few bytes of the sample. -1
// when not set up.
int SeekSoundConvert(SoundConvertRecord* converter, std::int64_t sample);
// Moves a converter exactly to a sample, however near it stands (to take back output that
// was lost). -1 when not set up.
int MoveSoundConvert(SoundConvertRecord* converter, std::int64_t sample);
// Frees what the converter holds (not its stream). 0, or -1 when it is not set up.
int TerminateSoundConvert(SoundConvertRecord* converter);
int GetSoundConvertFormat(const SoundConvertRecord* converter, WAVEFORMATEX* format);
// Bytes of the whole PCM output (Ogg: one second of room beyond the decoded length).
int GetSoundConvertDestSize(SoundConvertRecord* converter);
// Bytes of PCM the data yields when it is played through (0 when unknown).
std::int64_t GetSoundConvertPcmBytes(const SoundConvertRecord* converter);
// The whole PCM in a new block of library memory, which the caller frees; -1 also when a
// failure cut the conversion short (no shortened sound).
int ConvertSoundWhole(SoundConvertRecord* converter, WAVEFORMATEX* format, void** data, int* bytes);
// The loop point the compression-manager kind decodes towards, in samples.
void SetSoundConvertLoopPoint(SoundConvertRecord* converter, int sample);
// Closes the source stream with its own close function, for an owner that handed its
// stream over to the converter.
void CloseSoundConvertSource(SoundConvertRecord* converter);
// Ogg decoders opened and not yet cleared (all converters).
int LiveOggDecoders();

}  // namespace gamelib
