// Shared between the parts of the software sound device; not seen by the library.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/dsound.h"
#include "platform/sim_sound.h"

struct SpeexResamplerState_;

namespace platform::dsound {

constexpr DWORD kOutputRate = 44100;

// A buffer at another rate converted once to the output rate (float, the buffer's
// channels), so playing it is an add. Output frame k stands at source frame
// k * num / den; a pass from frame 0 starts with a history of zeros, as a fresh
// resampler does, and a pass after a wrap starts with `seam`, whose history is the
// buffer's end.
struct Converted {
  std::uint64_t num = 1;
  std::uint64_t den = 1;
  std::uint32_t frames = 0;      // output frames of one pass
  std::uint32_t seamFrames = 0;  // output frames whose filter reaches before frame 0
  unsigned channels = 1;
  std::vector<float> pass;
  std::vector<float> seam;
};

// The sound bytes of a buffer, shared with its duplicates; lives until the last
// buffer holding it is released.
struct SoundData {
  explicit SoundData(std::size_t size, std::uint8_t fill);
  ~SoundData();
  SoundData(const SoundData&) = delete;
  SoundData& operator=(const SoundData&) = delete;
  std::vector<std::uint8_t> bytes;
  std::uint64_t id;
  std::uint8_t fill = 0;  // the byte it was made with
  bool pristine = true;   // every byte still `fill`: nothing unlocked into it yet
  int directLocks = 0;    // open locks that hand out `bytes` itself (Lock)
  // Written on the library thread with the state mutex held; read by the mixer.
  std::shared_ptr<const Converted> converted;  // null: not made yet, or stale
  bool streamed = false;                       // rewritten while playing (a ring): resampled as it plays
};

class SoundBuffer;

// Everything the library thread and the device thread share; guarded by `mutex`.
struct DeviceState {
  std::mutex mutex;
  std::vector<SoundBuffer*> buffers;  // every live buffer (swap-removed; ids give the order)
  std::vector<SoundBuffer*> voices;   // the playing secondary buffers
  std::uint64_t nextId = 1;
  int liveDevices = 0;
  int liveBuffers = 0;
  int liveData = 0;

  // Test settings.
  DSCAPS caps{};
  std::vector<sim::SoundDeviceEntry> devices;
  std::uint8_t newBufferFill = 0;
  std::set<DWORD> failingCreateFlags;
  std::deque<sim::SoundCall> calls;
  std::vector<std::int16_t> captured;  // the offline output not read yet
};
DeviceState& State();

// Appends to the call log (mutex held).
void LogCallLocked(const char* op, std::uint64_t object, std::initializer_list<std::int64_t> args,
                   HRESULT result, const WAVEFORMATEX* format = nullptr);
void LogCall(const char* op, std::uint64_t object, std::initializer_list<std::int64_t> args, HRESULT result,
             const WAVEFORMATEX* format = nullptr);

class SoundBuffer final : public ComObject<IDirectSoundBuffer> {
 public:
  // Secondary buffer over `data` (new or shared), or the primary buffer (data null).
  SoundBuffer(DWORD flags, const WAVEFORMATEX& format, std::shared_ptr<SoundData> data);

  HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override;
  HRESULT Stop() override;
  HRESULT GetStatus(DWORD* status) override;
  HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) override;
  HRESULT SetCurrentPosition(DWORD offset) override;
  HRESULT Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
               DWORD flags) override;
  HRESULT Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) override;
  HRESULT SetVolume(LONG volume) override;
  HRESULT GetVolume(LONG* volume) override;
  HRESULT SetFormat(const WAVEFORMATEX* format) override;
  HRESULT GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) override;
  ULONG Release() override;

  // The primary buffer refuses SetFormat until its device's cooperative level allows it.
  void SetPrimaryLevel(std::shared_ptr<const DWORD> level) { primaryLevel_ = std::move(level); }

  // Everything below is read and written with the state mutex held.
  std::uint64_t id() const { return id_; }
  bool primary() const { return data_ == nullptr; }
  DWORD flags() const { return flags_; }
  const WAVEFORMATEX& format() const { return format_; }
  const std::shared_ptr<SoundData>& data() const { return data_; }
  std::uint32_t frames() const;  // whole frames of the buffer

  bool playing = false;
  bool looping = false;
  std::uint32_t cursor = 0;  // play cursor, frames
  DWORD lastSetPosition = 0;
  LONG volume = 0;
  float gain = 1.0f;
  int voiceIndex = -1;   // in State().voices while playing
  int bufferIndex = -1;  // in State().buffers
  bool tapping = false;
  std::vector<std::uint8_t> tap;
  SpeexResamplerState_* resampler = nullptr;  // made on first play of a streamed buffer
  bool resamplerDirty = false;                // history to forget before the next mix
  std::uint64_t convertedFrame = 0;           // next output frame of data()->converted
  bool wrapped = false;                       // past a wrap: the pass starts with the seam

  struct OpenLock {
    std::unique_ptr<std::uint8_t[]> staging;
    DWORD offset;
    DWORD bytes1;
    DWORD bytes2;
    // Set when the lock handed out the data's own bytes; `detached` holds them when a
    // play began meanwhile and the voice got a fresh copy of the fill instead.
    std::uint8_t* direct = nullptr;
    std::vector<std::uint8_t> detached;
    std::uint8_t* part1() const { return direct != nullptr ? direct : staging.get(); }
  };
  std::vector<OpenLock> locks;

  // Forget what the resampler holds (the cursor jumped or playing ended).
  void JumpedLocked() { resamplerDirty = true; }
  void StartVoiceLocked();
  void StopVoiceLocked();
  // Before the data's bytes are read by a voice: a direct lock on them moves them aside.
  void DetachDirectLocksLocked();
  // A direct lock whose bytes never become playable: its range goes back to the fill.
  void DropDirectLockLocked(OpenLock& open);
  // The bytes changed (Unlock): a buffer rewritten while playing is resampled as it plays.
  void DataRewrittenLocked();

 private:
  ~SoundBuffer() override;
  std::uint64_t id_;
  DWORD flags_;
  WAVEFORMATEX format_;
  std::shared_ptr<SoundData> data_;
  std::shared_ptr<const DWORD> primaryLevel_;
};

float GainOf(LONG volume);

// The mixer (state mutex held): `frames` stereo frames of every playing secondary
// buffer into out, moving their cursors.
void MixLocked(std::int16_t* out, std::size_t frames);
void FreeResampler(SpeexResamplerState_* resampler);
// The whole buffer converted to the output rate; null when it is at the output rate,
// too big to keep, or the resampler fails. Reads only `bytes`; no lock needed.
std::shared_ptr<const Converted> Convert(const std::vector<std::uint8_t>& bytes, const WAVEFORMATEX& format);

// The outputs. Run on the library thread, without the state mutex.
void DeviceInitialized();  // a device finished Initialize
void DeviceGone();         // an initialised device was destroyed
void ResetOutput();
void OnClockAdvance(std::uint64_t fromMicros, std::uint64_t toMicros);
const char* OutputName();

// The defaults sim::Reset restores.
DSCAPS DefaultCaps();
std::vector<sim::SoundDeviceEntry> DefaultDevices();

void ResetSoundDevice();
int LiveDataBlocks();

}  // namespace platform::dsound

namespace platform {
// Registers the device class, "DSOUND.DLL" and the device's hooks (builtins.cpp).
void RegisterSoundDevice();
}  // namespace platform
