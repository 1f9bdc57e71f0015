// Test controls of the sound device stand-in (included by platform/sim.h).
// sim::Reset() puts every one of them back to its default.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/dsound.h"

namespace sim {

// The mixed output: interleaved stereo 16-bit frames at 44100 Hz, produced by the
// offline output as the virtual clock moves (t microseconds of clock make
// floor(t * 44100 / 1e6) frames in all, counted from clock 0) since the last read.
// Returns the number of frames (frames.size() / 2). At most ten minutes are kept.
std::size_t ReadMixedOutput(std::vector<std::int16_t>& frames);

// Which output the device mixes into now: "offline", "null", "wav", "sdl", or ""
// while no device is initialised.
std::string SoundOutputName();

// The quality setting of the mixer's resampler (speexdsp), so a test can run the
// same resampler on the same data.
constexpr int kSoundResamplerQuality = 3;

// Device capabilities that GetCaps reports (dwSize is filled in by GetCaps).
void SetSoundCaps(const DSCAPS& caps);
DSCAPS DefaultSoundCaps();

// "DSOUND.DLL" present or missing, and whether it exports DirectSoundEnumerateA.
void SetSoundDllPresent(bool present, bool enumerateExport = true);

// The devices DirectSoundEnumerateA reports, in order. The first default entry is the
// default device (no GUID); Initialize accepts null or the GUID of an entry.
struct SoundDeviceEntry {
  bool hasGuid = false;
  GUID guid{};
  std::string description;
  std::string module;
};
void SetSoundDevices(const std::vector<SoundDeviceEntry>& devices);
std::vector<SoundDeviceEntry> DefaultSoundDevices();

// The byte every new secondary buffer is filled with (0 by default).
void SetNewSoundBufferFill(std::uint8_t byte);

// CreateSoundBuffer fails for every description with exactly these dwFlags, until
// cleared. Counted calls (FailCall("CreateSoundBuffer", n)) fail as well.
void FailCreateSoundBufferFlags(DWORD flags, bool fail = true);

// One secondary or primary buffer as the device sees it.
struct SoundBufferInfo {
  IDirectSoundBuffer* object = nullptr;
  std::uint64_t id = 0;      // unique per buffer object
  std::uint64_t dataId = 0;  // shared by a buffer and its duplicates (0: primary)
  bool primary = false;
  DWORD flags = 0;
  alignas(4) WAVEFORMATEX format{};  // aligned, so its fields can be bound by reference
  DWORD bytes = 0;
  DWORD status = 0;  // DSBSTATUS_* as GetStatus reports it
  bool playing = false;
  bool looping = false;
  DWORD playCursor = 0;       // bytes, block-aligned
  DWORD lastSetPosition = 0;  // the exact argument of the last SetCurrentPosition
  LONG volume = 0;
  ULONG refs = 0;
  int openLocks = 0;
};
// All live buffers, oldest first.
std::vector<SoundBufferInfo> SoundBuffers();
// One buffer; false when it is not a live buffer of the device.
bool InspectSoundBuffer(IDirectSoundBuffer* buffer, SoundBufferInfo* info);
// The buffer's current bytes (the shared data of a buffer and its duplicates).
std::vector<std::uint8_t> SoundBufferContents(IDirectSoundBuffer* buffer);
// Moves a play cursor (bytes, aligned down to a block), as if the mixer had got there.
bool SetPlayCursor(IDirectSoundBuffer* buffer, DWORD bytes);
// Records the bytes the play cursor of this buffer passes from now on (what was
// heard of it, before conversion); TakeSoundTap returns them and starts afresh.
bool StartSoundTap(IDirectSoundBuffer* buffer);
std::vector<std::uint8_t> TakeSoundTap(IDirectSoundBuffer* buffer);

// Every call into the device and its buffers, in order, with its arguments.
//   Initialize (hasGuid)             SetCooperativeLevel (level)
//   CreateSoundBuffer (flags, bytes, new buffer id or 0) + format when given
//   DuplicateSoundBuffer (source id, new id or 0)        GetCaps (dwSize)
//   Play (reserved, priority, flags) Stop ()              GetStatus (status)
//   GetCurrentPosition (play cursor) SetCurrentPosition (offset)
//   Lock (offset, bytes, flags, bytes1, bytes2)           Unlock (bytes1, bytes2)
//   SetVolume (volume)               SetFormat () + format   Release (refs left)
//   DirectSoundEnumerateA (devices reported)
// object is the id of the buffer (or device) called. At most 65536 calls are kept.
struct SoundCall {
  std::string op;
  std::uint64_t object = 0;
  std::vector<std::int64_t> args;
  bool hasFormat = false;
  alignas(4) WAVEFORMATEX format{};  // aligned, so its fields can be bound by reference
  HRESULT result = 0;
};
std::vector<SoundCall> SoundCalls();
void ClearSoundCalls();

// Live device objects, buffers and shared data blocks (also part of LiveObjects()).
int LiveSoundObjects();

}  // namespace sim
