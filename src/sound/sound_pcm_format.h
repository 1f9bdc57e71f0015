// The PCM formats and buffer sizes the sound layer plays. Every format and size a file
// controls passes this rule before a buffer is asked for: the device would refuse the
// rest, and a refused buffer ends the process.
#pragma once

#include <cstdint>

#include "platform/dsound.h"

namespace gamelib {

// PCM, 1 or 2 channels, 8 or 16 bits, a rate a secondary buffer takes, and the block
// size and byte rate that follow from those. cbSize is not looked at.
constexpr bool ValidSoundPcmFormat(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.nChannels != 1 && f.nChannels != 2) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) return false;
  if (f.nSamplesPerSec < DSBFREQUENCY_MIN || f.nSamplesPerSec > DSBFREQUENCY_MAX) return false;
  return std::uint64_t{f.nAvgBytesPerSec} == std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec;
}

// A buffer of `bytes` in format f: a format as above, at least one block, no more than
// a secondary buffer holds, and whole blocks only.
constexpr bool ValidSoundPcmBuffer(const WAVEFORMATEX& f, std::uint64_t bytes) {
  return ValidSoundPcmFormat(f) && bytes >= f.nBlockAlign && bytes <= DSBSIZE_MAX &&
         bytes % f.nBlockAlign == 0;
}

}  // namespace gamelib
