// The records of the sound layer: a sound handle's record with its buffer wrappers
// and stream files, and the locked ring range that stream refills write through.
#pragma once

#include <algorithm>
#include <cstdint>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "platform/dsound.h"
#include "sound/sound_convert.h"

namespace gamelib {

constexpr int kMaxSoundHandles = 4096;
constexpr int kSoundBuffersPerHandle = 10;
constexpr int kStreamFilesPerHandle = 3;

// One IDirectSoundBuffer of a sound handle.
struct SoundBufferWrapper {
  std::int32_t valid;  // 1 while `buffer` is held
  IDirectSoundBuffer* buffer;
};

// One file of a stream sound.
struct SoundFileEntry {
  std::uint8_t loopCount;  // extra plays after the first (signed compare); 255 endless
  std::int32_t dataKind;   // 0 whole PCM as a WAVE image, 2 file image, 3 read from its stream
  void* fileData;          // owned image (kinds 0 and 2)
  std::uint32_t fileDataBytes;
  StreamAccessRecord stream;  // memory stream over fileData (kinds 0 and 2)
  std::int32_t loopPoint;     // samples
  SoundConvertRecord converter;
};

// A sound handle's record. Zero-filled when made; the first word is the check number
// the handle table compares with the handle.
struct SoundHandleRecord {
  std::int32_t checkNumber;
  SoundBufferWrapper buffers[kSoundBuffersPerHandle];
  WAVEFORMATEX format;
  std::int32_t soundKind;  // kSoundKindMemory or kSoundKindStream (gamelib/sound.h)

  // Stream sounds only.
  std::int32_t playType;
  std::int32_t linkedHandle;   // the stream whose ring this one plays on, -1 own ring
  std::int32_t shareCount;     // streams playing on this one's ring
  std::int32_t bufferOwner;    // handle that last claimed this ring, -1 none
  std::int32_t deletePending;  // deleted while others still share the ring
  std::uint32_t ringBytes;
  std::int32_t writeCursor;  // -800: ring not filled yet
  std::int32_t validZoneStart;
  SoundFileEntry files[kStreamFilesPerHandle];
  std::uint8_t fileOwnsStream[kStreamFilesPerHandle];
  std::int32_t fileCount;
  std::int32_t currentFile;
  std::int32_t loopsDone;
  std::int32_t filePosition;
  std::int32_t totalSamples;
  std::int64_t playedBytes;  // 64-bit: a long stream without a wrap passes 2 GiB
  std::int32_t lastPlayCursor;
  std::uint8_t prepared;
  std::uint8_t dataEnded;
  std::uint8_t wrapPending;
  std::uint8_t finished;
  std::uint8_t dataFault;  // the data stopped where it could not be read, not at its end
  std::int32_t wrapPosition;
  std::int32_t endOffset;
  std::int32_t endCursorCount;
  std::int32_t wrapOffset;
  std::int64_t endBytesLeft;      // once dataEnded: bytes still to play before the end
  LinkedListNode streamListNode;  // in SoundStreamList

  // Memory sounds only.
  std::uint32_t dataBytes;
  void* data;  // the PCM, owned for the life of the handle
  std::int32_t bufferCount;
  std::int32_t nextBuffer;
};

// Buffers in use, never more than the record holds.
inline int UsedSoundBuffers(const SoundHandleRecord& record) {
  return std::clamp(record.bufferCount, 0, kSoundBuffersPerHandle);
}

// A locked ring range, written front to back: part 1 up to the ring's end, part 2
// from its start (null when the range does not wrap).
struct StreamFillCursor {
  std::int32_t lockOffset;
  std::uint8_t* part1;
  std::uint8_t* part2;
  DWORD part1Bytes;
  DWORD part2Bytes;
  DWORD part1Done;
  DWORD part2Done;
  DWORD part1Left;
  DWORD part2Left;
};

}  // namespace gamelib
