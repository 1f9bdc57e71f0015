// Sound buffers: the wrapper over one IDirectSoundBuffer, the making and releasing of
// a handle's buffers, their volume, and silence for stream rings.
#pragma once

#include "sound/sound_records.h"

namespace gamelib {

// Buffer description flags of the sounds' buffers.
constexpr DWORD kMemorySoundBufferFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN |
                                          DSBCAPS_CTRLFREQUENCY | DSBCAPS_STATIC;  // 0x80E2
constexpr DWORD kMemorySoundBufferFallbackFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC;
constexpr DWORD kStreamRingFlags = kMemorySoundBufferFlags | DSBCAPS_GETCURRENTPOSITION2;  // 0x180E2
constexpr int kStreamRingSeconds = 6;

// Each returns -1 when the wrapper's `valid` is not as the operation needs.
int CreateSoundBufferWrapper(SoundBufferWrapper* wrapper, const DSBUFFERDESC* description);
int DuplicateSoundBufferWrapper(SoundBufferWrapper* wrapper, const SoundBufferWrapper* source);
int ReleaseSoundBufferWrapper(SoundBufferWrapper* wrapper);
int PlaySoundBufferWrapper(SoundBufferWrapper* wrapper, int loop);
int StopSoundBufferWrapper(SoundBufferWrapper* wrapper);
int GetSoundBufferWrapperStatus(const SoundBufferWrapper* wrapper, DWORD* status);
int LockSoundBufferWrapper(SoundBufferWrapper* wrapper, DWORD offset, DWORD bytes, void** part1,
                           DWORD* bytes1, void** part2, DWORD* bytes2);
int UnlockSoundBufferWrapper(SoundBufferWrapper* wrapper, void* part1, DWORD bytes1, void* part2,
                             DWORD bytes2);
int SetSoundBufferWrapperVolume(SoundBufferWrapper* wrapper, LONG volume);
int SetSoundBufferWrapperPosition(SoundBufferWrapper* wrapper, DWORD offset);

// Makes the buffers of the sound `handle`: for a memory sound (kind 0) one buffer of
// `dataBytes` and up to bufferCount - 1 duplicates of it; for a stream sound (kind 1)
// one looping ring of six seconds, and the sound joins SoundStreamList. 0 or -1; a
// format or size the device cannot take is refused with -1 before the device is asked.
int CreateSoundBuffers(const WAVEFORMATEX* format, std::uint32_t dataBytes, int kind, int bufferCount,
                       int handle);

// Releases every buffer the record holds (also past bufferCount).
void ReleaseSoundBuffers(SoundHandleRecord* record);
// Sets the volume of the buffers in use.
void SetSoundBuffersVolume(SoundHandleRecord* record, LONG volume);

// Writes `bytes` of silence at the cursor's next free bytes, as far as the locked
// range reaches.
void WriteSilenceToBuffer(const SoundHandleRecord* record, StreamFillCursor* cursor, std::uint32_t bytes);

// The library volume (0..255) in hundredths of a decibel.
LONG SoundVolumeToHundredthsDb(int volume);

}  // namespace gamelib
