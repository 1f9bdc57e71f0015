// The sound converter: set up on an open stream, it recognises a sound file's format
// and hands out its PCM block by block, from a sample position, or whole. Kinds: RIFF
// WAVE PCM, the compression manager (compressed WAVE and MP3), and Ogg Vorbis.
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
constexpr int SOUND_CONVERT_WAVE_PCM = 0;
constexpr int SOUND_CONVERT_ACM = 1;
constexpr int SOUND_CONVERT_OGG = 2;

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
};

// State of the Ogg Vorbis kind.
struct SoundConvertOggState {
  std::int32_t oggOpen;
  OggVorbis_File oggFile;
  std::int32_t oggBytesPerSample;
  std::int32_t oggExhausted;  // a seek failed: the decoder is not where the position says
};

// Zero-filled before use, like the records that hold it.
struct SoundConvertRecord {
  std::int32_t initialised;         // 1 after a successful set-up
  std::int32_t endReached;          // 1 once a block conversion reported the end
  std::int32_t convertKind;         // SOUND_CONVERT_*
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
};

// All 0 or -1 unless said otherwise.
int SetupSoundConvert(const StreamAccessRecord* stream, SoundConvertRecord* converter);
// Bytes written (0 at the end of the data), -1 when not set up.
int ConvertSoundBlock(SoundConvertRecord* converter, void* destination, int bytes);
int SetSoundConvertPosition(SoundConvertRecord* converter, int sample);
// Frees what the converter holds (not its stream). 0, or -1 when it is not set up.
int TerminateSoundConvert(SoundConvertRecord* converter);
int GetSoundConvertFormat(const SoundConvertRecord* converter, WAVEFORMATEX* format);
// Bytes of the whole PCM output (Ogg: one second of room beyond the decoded length).
int GetSoundConvertDestSize(SoundConvertRecord* converter);
// The whole PCM in a new block of library memory, which the caller frees.
int ConvertSoundWhole(SoundConvertRecord* converter, WAVEFORMATEX* format, void** data, int* bytes);

// ---- Kind operations (one converter each) --------------------------------------------
int SetupWavePcmConvert(SoundConvertRecord* converter);
int ConvertPcmBlock(SoundConvertRecord* converter);
int SetPcmConvertPosition(SoundConvertRecord* converter, int sample);

int SetupWaveAcmConvert(SoundConvertRecord* converter);
int SetupMp3AcmConvert(SoundConvertRecord* converter);
int ConvertAcmBlock(SoundConvertRecord* converter);
int SetAcmConvertPosition(SoundConvertRecord* converter, int sample);
int TerminateAcmConvert(SoundConvertRecord* converter);
int GetAcmConvertDestSize(SoundConvertRecord* converter);

int SetupOggSoundConvert(SoundConvertRecord* converter);
int ConvertOggSoundBlock(SoundConvertRecord* converter);
int SetOggSoundConvertPosition(SoundConvertRecord* converter, int sample);
int TerminateOggSoundConvert(SoundConvertRecord* converter);
int GetOggSoundConvertTotalBytes(SoundConvertRecord* converter);
int GetOggSoundConvertDestSize(SoundConvertRecord* converter);
// Ogg decoders opened and not yet cleared (all converters).
int LiveOggDecoders();

// Stream access through the converter's own copy of the stream.
std::int64_t ConvertStreamTell(SoundConvertRecord* converter);
int ConvertStreamSeek(SoundConvertRecord* converter, std::int64_t offset, int origin);
// Bytes read, never more than asked.
std::int64_t ConvertStreamRead(SoundConvertRecord* converter, void* buffer, std::int64_t bytes);
// Stream length in bytes (the position is kept), or -1.
std::int64_t ConvertStreamLength(SoundConvertRecord* converter);

// The RIFF WAVE layout both WAVE readers share. ReadWaveFmtHeader reads "RIFF", "WAVE"
// and the fmt chunk's header from the stream's start (length is the stream's length) and
// gives the fmt body's size (16..kMaxFmtChunkBytes, inside the file) and position; the
// stream is left at the body. FindWaveDataChunk walks the chunks from `from` to "data":
// positions strictly advance inside the file, so a hostile size can neither seek
// backwards nor loop; a data chunk that claims more than the file holds is cut at the
// file's end. Both return 0, or -1 for a file that is not laid out so.
int ReadWaveFmtHeader(SoundConvertRecord* converter, std::int64_t length, std::int64_t* fmtBytes,
                      std::int64_t* fmtPosition);
int FindWaveDataChunk(SoundConvertRecord* converter, std::int64_t from, std::int64_t length,
                      std::int64_t* dataPosition, std::int64_t* dataBytes);

}  // namespace gamelib
