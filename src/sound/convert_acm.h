// The compression-manager kind of the sound converter: compressed RIFF WAVE and MP3,
// decoded in pieces by a main decoder, with a second decoder that creeps towards the
// loop point so that a jump back to it does not decode the file again from its start.
#pragma once

#include <cstdint>

#include "sound/sound_convert.h"

namespace gamelib {

// One MPEG audio frame header as the parser reads it.
struct Mp3FrameRecord {
  std::uint8_t layer;         // 0 Layer I, 1 Layer II, 2 Layer III
  std::uint8_t version;       // 0 MPEG-1, 1 MPEG-2 (low sampling frequencies)
  std::uint8_t bitrateIndex;  // 0..14
  std::uint8_t rateIndex;     // 0..2
  std::uint8_t padding;       // 0 or 1
  std::uint8_t channels;      // 1 or 2
  std::uint32_t sampleRate;   // Hz
  std::uint32_t bitrate;      // kbit/s; 0 for bitrate index 0 (free format)
  std::uint32_t frameBytes;
  std::uint32_t samplesPerFrame;
};

// 0, -1 for a reserved layer, bitrate index 15 or rate index 3, -2 without the sync.
int ParseMp3FrameHeader(const std::uint8_t header[4], Mp3FrameRecord* frame);

// Pieces of compressed data that one block conversion hands to each decoder.
constexpr int kAcmPieceBytes = 2048;
// How far before the loop point the loop decoder stops, in PCM bytes.
constexpr int kAcmLoopLeadBytes = 10240;
// Bounds of the MPEG wave format block whose size acmMetrics reports.
constexpr int kMp3FormatMinBytes = 30;
constexpr int kMp3FormatMaxBytes = 1024;
// The codec delay written into the MPEG wave format.
constexpr int kMp3CodecDelay = 700;

}  // namespace gamelib
