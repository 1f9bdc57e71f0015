// Inside the sound converter: the operations table each kind fills, the set-up trials
// that choose a kind, and what the kinds share (stream access through the converter's
// copy of the stream, the RIFF WAVE layout). Only the converter's own files include it.
#pragma once

#include <cstdint>

#include "sound/sound_convert.h"
#include "sound/sound_pcm_format.h"

namespace gamelib {

// What a kind's block refill or seek returns when the platform failed it: the data is
// still there and the same call may be made again.
constexpr int kConvertFailed = -2;

struct SoundConvertOps {
  int kind;  // SOUND_CONVERT_*
  // Refills blockBuffer (up to blockBytes) and sets blockLeft: 0, -1 at the end, or
  // kConvertFailed (nothing changed).
  int (*convertBlock)(SoundConvertRecord* converter);
  // Moves the output to a sample: outputPosition, blockLeft and blockOffset follow. 0, or
  // kConvertFailed when it must be made again.
  int (*setPosition)(SoundConvertRecord* converter, int sample);
  // Frees the kind's state. 0.
  int (*terminate)(SoundConvertRecord* converter);
  // Bytes of the whole output, room included; 0 when it cannot be known.
  int (*destSize)(SoundConvertRecord* converter);
  // Bytes of PCM a play-through yields.
  std::int64_t (*pcmBytes)(const SoundConvertRecord* converter);
  // The whole PCM from the data's start into `block` in one go, the bytes produced;
  // null where the whole conversion goes block by block.
  int (*convertWhole)(SoundConvertRecord* converter, void* block, int bytes);
};

extern const SoundConvertOps kWavePcmConvertOps;
extern const SoundConvertOps kAcmConvertOps;
extern const SoundConvertOps kOggConvertOps;

// The set-up trials: each reads the stream from its start and, when it takes the file,
// sets pcmFormat, blockBytes and its kind state (0); a trial that fails (-1) leaves
// nothing allocated.
int SetupWavePcmConvert(SoundConvertRecord* converter);
int SetupWaveAcmConvert(SoundConvertRecord* converter);
int SetupMp3AcmConvert(SoundConvertRecord* converter);
int SetupOggSoundConvert(SoundConvertRecord* converter);

// Stream access through the converter's own copy of the stream.
std::int64_t ConvertStreamTell(SoundConvertRecord* converter);
int ConvertStreamSeek(SoundConvertRecord* converter, std::int64_t offset, int origin);
// Bytes read, never more than asked.
std::int64_t ConvertStreamRead(SoundConvertRecord* converter, void* buffer, std::int64_t bytes);
// Stream length in bytes (the position is kept), or -1.
std::int64_t ConvertStreamLength(SoundConvertRecord* converter);
// Exactly `bytes` read.
bool ConvertStreamReadExact(SoundConvertRecord* converter, void* buffer, std::int64_t bytes);

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
