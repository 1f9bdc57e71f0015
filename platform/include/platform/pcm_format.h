// The PCM wave format record and the one gate that decides which PCM formats and
// buffer sizes the sound device accepts. The sound layer asks the same gate before it
// asks the device for a buffer, so a format the device would refuse never gets there.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18, "WAVEFORMATEX is 18 packed bytes");

constexpr WORD WAVE_FORMAT_PCM = 1;
// Stored size of WAVEFORMATEX, for code that copies or compares it as bytes.
constexpr DWORD WAVEFORMATEX_BYTES = 18;

// Limits of a secondary buffer.
constexpr DWORD DSBFREQUENCY_MIN = 100;
constexpr DWORD DSBFREQUENCY_MAX = 200000;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

namespace platform {

// PCM, 1 or 2 channels, 8 or 16 bits, 100..200000 samples per second, and the block
// size and byte rate that follow from those. cbSize is not looked at.
constexpr bool ValidPcmFormat(const WAVEFORMATEX& f) {
  if (f.wFormatTag != WAVE_FORMAT_PCM) return false;
  if (f.nChannels != 1 && f.nChannels != 2) return false;
  if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return false;
  if (f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) return false;
  if (f.nSamplesPerSec < DSBFREQUENCY_MIN || f.nSamplesPerSec > DSBFREQUENCY_MAX) return false;
  return std::uint64_t{f.nAvgBytesPerSec} == std::uint64_t{f.nBlockAlign} * f.nSamplesPerSec;
}

// A secondary buffer of `bytes` bytes in format f: a valid format, at least one block,
// at most DSBSIZE_MAX, and whole blocks only.
constexpr bool ValidPcmBuffer(const WAVEFORMATEX& f, std::uint64_t bytes) {
  return ValidPcmFormat(f) && bytes >= f.nBlockAlign && bytes <= DSBSIZE_MAX && bytes % f.nBlockAlign == 0;
}

}  // namespace platform
