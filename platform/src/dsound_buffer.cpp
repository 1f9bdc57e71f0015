// Sound buffers: play state, cursors, locking, volume. The bytes a caller writes
// through Lock go to a staging copy and reach the (possibly playing) shared data at
// Unlock, under the device lock, so the device thread never reads half-written data.
// Data that no voice reads, no other lock holds and nothing has been unlocked into
// yet (a new buffer being filled) is handed out itself: no staging copy, and a failed
// or dropped lock puts the fill back, as if its bytes had never been written.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsound_internal.h"
#include "platform/hooks.h"

namespace platform::dsound {

SoundData::SoundData(std::size_t size, std::uint8_t fill) : bytes(size, fill), fill(fill) {
  std::lock_guard lock(State().mutex);
  id = State().nextId++;
  ++State().liveData;
}

SoundData::~SoundData() {
  std::lock_guard lock(State().mutex);
  --State().liveData;
}

float GainOf(LONG volume) {
  if (volume <= DSBVOLUME_MIN) return 0.0f;
  if (volume >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

SoundBuffer::SoundBuffer(DWORD flags, const WAVEFORMATEX& format, std::shared_ptr<SoundData> data)
    : ComObject(IID_IDirectSoundBuffer), flags_(flags), format_(format), data_(std::move(data)) {
  std::lock_guard lock(State().mutex);
  DeviceState& s = State();
  id_ = s.nextId++;
  ++s.liveBuffers;
  bufferIndex = static_cast<int>(s.buffers.size());
  s.buffers.push_back(this);
}

SoundBuffer::~SoundBuffer() {
  {
    std::lock_guard lock(State().mutex);
    DeviceState& s = State();
    for (OpenLock& open : locks) {
      if (open.direct != nullptr) DropDirectLockLocked(open);
    }
    StopVoiceLocked();
    s.buffers[bufferIndex] = s.buffers.back();
    s.buffers[bufferIndex]->bufferIndex = bufferIndex;
    s.buffers.pop_back();
    --s.liveBuffers;
  }
  FreeResampler(resampler);
  // data_ (and with the last holder the shared bytes) goes after the lock is released.
}

std::uint32_t SoundBuffer::frames() const {
  return data_ == nullptr ? 0 : static_cast<std::uint32_t>(data_->bytes.size() / format_.nBlockAlign);
}

void SoundBuffer::StartVoiceLocked() {
  playing = true;
  if (voiceIndex >= 0) return;
  auto& voices = State().voices;
  voiceIndex = static_cast<int>(voices.size());
  voices.push_back(this);
}

void SoundBuffer::DetachDirectLocksLocked() {
  if (data_ == nullptr || data_->directLocks == 0) return;
  for (SoundBuffer* b : State().buffers) {
    if (b->data_ != data_) continue;
    for (OpenLock& open : b->locks) {
      if (open.direct == nullptr || !open.detached.empty()) continue;
      // What a staging lock would leave playable: the bytes as they were at Lock.
      std::vector<std::uint8_t> playable = data_->bytes;  // may throw: nothing changed yet
      std::memset(playable.data() + open.offset, data_->fill, open.bytes1);
      open.detached = std::move(data_->bytes);
      data_->bytes = std::move(playable);
    }
  }
}

void SoundBuffer::DropDirectLockLocked(OpenLock& open) {
  if (open.detached.empty()) std::memset(data_->bytes.data() + open.offset, data_->fill, open.bytes1);
  open.direct = nullptr;
  --data_->directLocks;
}

void SoundBuffer::StopVoiceLocked() {
  playing = false;
  if (voiceIndex < 0) return;
  auto& voices = State().voices;
  voices[voiceIndex] = voices.back();
  voices[voiceIndex]->voiceIndex = voiceIndex;
  voices.pop_back();
  voiceIndex = -1;
}

void SoundBuffer::DataRewrittenLocked() {
  if (data_->streamed || format_.nSamplesPerSec == kOutputRate) return;
  auto& voices = State().voices;
  if (std::none_of(voices.begin(), voices.end(), [&](SoundBuffer* v) { return v->data_ == data_; })) return;
  // Rewritten while it plays, as a ring is: converting it again at every write would
  // cost more than resampling it as it plays, which takes each write as it comes.
  data_->streamed = true;
  for (SoundBuffer* b : State().buffers) {
    if (b->data_ == data_) b->JumpedLocked();
  }
}

ULONG SoundBuffer::Release() {
  const std::uint64_t id = id_;
  const ULONG left = ComObject::Release();
  LogCall("Release", id, {left}, S_OK);
  return left;
}

HRESULT SoundBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
  HRESULT hr = DS_OK;
  if (ShouldFail("Play")) {
    hr = DSERR_GENERIC;
  } else if (reserved != 0) {
    hr = DSERR_INVALIDPARAM;
  }
  // Converted here, on the library thread, so the device thread never waits for it.
  // Only this thread writes the bytes, so they are read without the lock.
  std::shared_ptr<const Converted> converted;
  if (hr == DS_OK && !primary() && format_.nSamplesPerSec != kOutputRate && !data_->streamed &&
      data_->converted == nullptr && data_->directLocks == 0) {
    converted = Convert(data_->bytes, format_);
  }
  std::lock_guard lock(State().mutex);
  if (converted != nullptr) data_->converted = std::move(converted);
  // The primary buffer has nothing of its own to play; the mix runs regardless.
  if (hr == DS_OK && !primary()) {
    try {
      DetachDirectLocksLocked();
    } catch (const std::bad_alloc&) {
      hr = DSERR_OUTOFMEMORY;
    }
  }
  if (hr == DS_OK && !primary()) {
    looping = (flags & DSBPLAY_LOOPING) != 0;
    StartVoiceLocked();
  }
  LogCallLocked("Play", id_, {reserved, priority, flags}, hr);
  return hr;
}

HRESULT SoundBuffer::Stop() {
  HRESULT hr = ShouldFail("Stop") ? DSERR_GENERIC : DS_OK;
  std::lock_guard lock(State().mutex);
  if (hr == DS_OK) StopVoiceLocked();  // the cursor stays where it is
  LogCallLocked("Stop", id_, {}, hr);
  return hr;
}

HRESULT SoundBuffer::GetStatus(DWORD* status) {
  HRESULT hr = DS_OK;
  if (ShouldFail("GetStatus")) {
    hr = DSERR_GENERIC;
  } else if (status == nullptr) {
    hr = DSERR_INVALIDPARAM;
  }
  std::lock_guard lock(State().mutex);
  DWORD value = 0;
  if (playing) value = DSBSTATUS_PLAYING | (looping ? DSBSTATUS_LOOPING : 0);
  if (hr == DS_OK) *status = value;
  LogCallLocked("GetStatus", id_, {value}, hr);
  return hr;
}

HRESULT SoundBuffer::GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) {
  HRESULT hr = ShouldFail("GetCurrentPosition") ? DSERR_GENERIC : DS_OK;
  std::lock_guard lock(State().mutex);
  // Exact cursors: what the mixer has taken is behind the play cursor, and nothing
  // past it has been read, so writing may start right there.
  const DWORD position = cursor * format_.nBlockAlign;
  if (hr == DS_OK) {
    if (playCursor != nullptr) *playCursor = position;
    if (writeCursor != nullptr) *writeCursor = position;
  }
  LogCallLocked("GetCurrentPosition", id_, {position}, hr);
  return hr;
}

HRESULT SoundBuffer::SetCurrentPosition(DWORD offset) {
  HRESULT hr = DS_OK;
  if (ShouldFail("SetCurrentPosition")) {
    hr = DSERR_GENERIC;
  } else if (primary()) {
    hr = DSERR_INVALIDCALL;
  } else if (offset >= data_->bytes.size()) {
    hr = DSERR_INVALIDPARAM;
  }
  std::lock_guard lock(State().mutex);
  if (hr == DS_OK) {
    lastSetPosition = offset;
    cursor = offset / format_.nBlockAlign;
    JumpedLocked();
  }
  LogCallLocked("SetCurrentPosition", id_, {offset}, hr);
  return hr;
}

HRESULT SoundBuffer::Lock(DWORD offset, DWORD bytes, void** part1, DWORD* bytes1, void** part2, DWORD* bytes2,
                          DWORD flags) {
  if (part1 != nullptr) *part1 = nullptr;
  if (bytes1 != nullptr) *bytes1 = 0;
  if (part2 != nullptr) *part2 = nullptr;
  if (bytes2 != nullptr) *bytes2 = 0;
  HRESULT hr = DS_OK;
  const DWORD size = primary() ? 0 : static_cast<DWORD>(data_->bytes.size());
  std::unique_lock lock(State().mutex, std::defer_lock);
  if (ShouldFail("Lock")) {
    hr = DSERR_GENERIC;
  } else if (primary()) {
    hr = DSERR_INVALIDCALL;
  } else if (part1 == nullptr || bytes1 == nullptr) {
    hr = DSERR_INVALIDPARAM;
  }
  lock.lock();
  if (hr == DS_OK) {
    if ((flags & DSBLOCK_FROMWRITECURSOR) != 0) offset = cursor * format_.nBlockAlign;
    if ((flags & DSBLOCK_ENTIREBUFFER) != 0) bytes = size;
    if (bytes == 0 || bytes > size || offset >= size) hr = DSERR_INVALIDPARAM;
  }
  DWORD first = 0;
  DWORD second = 0;
  if (hr == DS_OK) {
    first = std::min(bytes, size - offset);
    second = bytes - first;
    if (second != 0 && (part2 == nullptr || bytes2 == nullptr)) hr = DSERR_INVALIDPARAM;
  }
  // Handed out itself when nothing else can see it (see the top of the file).
  bool direct = hr == DS_OK && second == 0 && data_->pristine && data_->directLocks == 0;
  for (const SoundBuffer* b : State().buffers) {
    if (direct && b->data_ == data_ && (b->voiceIndex >= 0 || !b->locks.empty())) direct = false;
  }
  if (direct) {
    try {
      OpenLock open{nullptr, offset, first, 0, data_->bytes.data() + offset, {}};
      *part1 = open.direct;
      *bytes1 = first;
      locks.push_back(std::move(open));
      ++data_->directLocks;
    } catch (const std::bad_alloc&) {
      hr = DSERR_OUTOFMEMORY;
      *part1 = nullptr;
      *bytes1 = 0;
      first = 0;
    }
  } else if (hr == DS_OK) {
    try {
      OpenLock open{
          std::make_unique_for_overwrite<std::uint8_t[]>(bytes), offset, first, second, nullptr, {}};
      std::memcpy(open.staging.get(), data_->bytes.data() + offset, first);
      if (second != 0) std::memcpy(open.staging.get() + first, data_->bytes.data(), second);
      *part1 = open.staging.get();
      *bytes1 = first;
      if (second != 0) {
        *part2 = open.staging.get() + first;
        *bytes2 = second;
      }
      locks.push_back(std::move(open));
    } catch (const std::bad_alloc&) {
      hr = DSERR_OUTOFMEMORY;
      *part1 = nullptr;
      *bytes1 = 0;
      first = second = 0;
    }
  }
  LogCallLocked("Lock", id_, {offset, bytes, flags, first, second}, hr);
  return hr;
}

HRESULT SoundBuffer::Unlock(void* part1, DWORD bytes1, void* part2, DWORD bytes2) {
  const bool fail = ShouldFail("Unlock");
  std::unique_lock lock(State().mutex);
  auto open = std::find_if(locks.begin(), locks.end(),
                           [&](const OpenLock& l) { return part1 != nullptr && l.part1() == part1; });
  HRESULT hr = DS_OK;
  if (fail) {
    hr = DSERR_GENERIC;
  } else if (open == locks.end() || bytes1 > open->bytes1 || bytes2 > open->bytes2 ||
             (bytes2 != 0 && part2 != open->staging.get() + open->bytes1)) {
    hr = DSERR_INVALIDPARAM;
  }
  std::shared_ptr<const Converted> stale;
  if (hr == DS_OK && open->direct != nullptr) {
    std::uint8_t* at = data_->bytes.data() + open->offset;
    if (!open->detached.empty()) {
      std::memcpy(at, open->direct, bytes1);
    } else {
      std::memset(at + bytes1, data_->fill, open->bytes1 - bytes1);  // only bytes1 become playable
    }
    open->direct = nullptr;
    --data_->directLocks;
  }
  if (hr == DS_OK) {
    if (open->staging != nullptr) {
      std::memcpy(data_->bytes.data() + open->offset, open->staging.get(), bytes1);
      if (bytes2 != 0) std::memcpy(data_->bytes.data(), open->staging.get() + open->bytes1, bytes2);
    }
    data_->pristine = false;
    stale = std::move(data_->converted);
    DataRewrittenLocked();
  }
  // A failed unlock drops the lock too: its bytes never become playable.
  if (open != locks.end() && hr != DSERR_INVALIDPARAM) {
    if (open->direct != nullptr) DropDirectLockLocked(*open);
    locks.erase(open);
  }
  LogCallLocked("Unlock", id_, {bytes1, bytes2}, hr);
  lock.unlock();  // a stale conversion is freed outside the lock
  return hr;
}

HRESULT SoundBuffer::SetVolume(LONG value) {
  HRESULT hr = DS_OK;
  if (ShouldFail("SetVolume")) {
    hr = DSERR_GENERIC;
  } else if ((flags_ & DSBCAPS_CTRLVOLUME) == 0) {
    hr = DSERR_CONTROLUNAVAIL;
  } else if (value < DSBVOLUME_MIN || value > DSBVOLUME_MAX) {
    hr = DSERR_INVALIDPARAM;
  }
  const float newGain = GainOf(value);
  std::lock_guard lock(State().mutex);
  if (hr == DS_OK) {
    volume = value;
    gain = newGain;
  }
  LogCallLocked("SetVolume", id_, {value}, hr);
  return hr;
}

HRESULT SoundBuffer::GetVolume(LONG* value) {
  if (value == nullptr) return DSERR_INVALIDPARAM;
  std::lock_guard lock(State().mutex);
  *value = volume;
  return DS_OK;
}

HRESULT SoundBuffer::SetFormat(const WAVEFORMATEX* format) {
  HRESULT hr = DS_OK;
  if (ShouldFail("SetFormat")) {
    hr = DSERR_GENERIC;
  } else if (!primary()) {
    hr = DSERR_INVALIDCALL;
  } else if (primaryLevel_ == nullptr || *primaryLevel_ < DSSCL_PRIORITY) {
    hr = DSERR_PRIOLEVELNEEDED;
  } else if (format == nullptr) {
    hr = DSERR_INVALIDPARAM;
  } else if (!ValidPcmFormat(*format)) {
    hr = DSERR_BADFORMAT;
  }
  std::lock_guard lock(State().mutex);
  if (hr == DS_OK) format_ = *format;
  LogCallLocked("SetFormat", id_, {}, hr, format);
  return hr;
}

HRESULT SoundBuffer::GetFormat(WAVEFORMATEX* format, DWORD size, DWORD* written) {
  if (format == nullptr && written == nullptr) return DSERR_INVALIDPARAM;
  std::lock_guard lock(State().mutex);
  const DWORD n = format == nullptr ? WAVEFORMATEX_BYTES : std::min<DWORD>(size, WAVEFORMATEX_BYTES);
  if (format != nullptr) std::memcpy(format, &format_, n);
  if (written != nullptr) *written = n;
  return DS_OK;
}

}  // namespace platform::dsound
