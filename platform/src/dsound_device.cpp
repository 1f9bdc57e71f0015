// The sound device object: initialisation, cooperative level, caps, and the making
// of buffers and duplicates. Also the enumeration export of "DSOUND.DLL".
#include <new>
#include <string>

#include "dsound_internal.h"
#include "platform/hooks.h"

const CLSID CLSID_DirectSound = {
    0x6b1f3c20, 0x41d2, 0x4e57, {0x9a, 0x10, 0x53, 0x6f, 0x75, 0x6e, 0x64, 0x01}};
const IID IID_IDirectSound = {0x6b1f3c21, 0x41d2, 0x4e57, {0x9a, 0x10, 0x53, 0x6f, 0x75, 0x6e, 0x64, 0x02}};
const IID IID_IDirectSoundBuffer = {
    0x6b1f3c22, 0x41d2, 0x4e57, {0x9a, 0x10, 0x53, 0x6f, 0x75, 0x6e, 0x64, 0x03}};

namespace platform::dsound {
namespace {

class SoundDevice final : public ComObject<IDirectSound> {
 public:
  SoundDevice() : ComObject(IID_IDirectSound) {
    std::lock_guard lock(State().mutex);
    id_ = State().nextId++;
    ++State().liveDevices;
  }

  HRESULT Initialize(const GUID* device) override {
    HRESULT hr = DS_OK;
    if (ShouldFail("Initialize")) {
      hr = DSERR_NODRIVER;
    } else if (initialized_) {
      hr = DSERR_ALREADYINITIALIZED;
    } else if (device != nullptr && !KnownDevice(*device)) {
      hr = DSERR_NODRIVER;
    }
    LogCall("Initialize", id_, {device != nullptr}, hr);
    if (hr == DS_OK) {
      initialized_ = true;
      DeviceInitialized();
    }
    return hr;
  }

  HRESULT SetCooperativeLevel(HWND window, DWORD level) override {
    HRESULT hr = DS_OK;
    if (ShouldFail("SetCooperativeLevel")) {
      hr = DSERR_GENERIC;
    } else if (!initialized_) {
      hr = DSERR_UNINITIALIZED;
    } else if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) {
      hr = DSERR_INVALIDPARAM;
    }
    if (hr == DS_OK) *level_ = level;
    LogCall("SetCooperativeLevel", id_, {level}, hr);
    return hr;
  }

  HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** out, IUnknown* outer) override {
    if (out != nullptr) *out = nullptr;
    HRESULT hr = DS_OK;
    const DWORD flags = desc != nullptr ? desc->dwFlags : 0;
    const DWORD bytes = desc != nullptr ? desc->dwBufferBytes : 0;
    const WAVEFORMATEX* format = desc != nullptr ? desc->lpwfxFormat : nullptr;
    bool failFlags;
    {
      std::lock_guard lock(State().mutex);
      failFlags = desc != nullptr && State().failingCreateFlags.count(flags) != 0;
    }
    if (ShouldFail("CreateSoundBuffer") || failFlags) {
      hr = DSERR_GENERIC;
    } else if (!initialized_) {
      hr = DSERR_UNINITIALIZED;
    } else if (desc == nullptr || out == nullptr || desc->dwSize != DSBUFFERDESC_DWSIZE) {
      hr = DSERR_INVALIDPARAM;
    } else if (outer != nullptr) {
      hr = DSERR_NOAGGREGATION;
    } else if ((flags & DSBCAPS_PRIMARYBUFFER) != 0) {
      if (bytes != 0 || format != nullptr) hr = DSERR_INVALIDPARAM;
    } else if (format == nullptr) {
      hr = DSERR_INVALIDPARAM;
    } else if (!ValidPcmFormat(*format)) {
      hr = DSERR_BADFORMAT;
    } else if (!ValidPcmBuffer(*format, bytes)) {
      hr = DSERR_INVALIDPARAM;
    }

    SoundBuffer* buffer = nullptr;
    if (hr == DS_OK) {
      try {
        if ((flags & DSBCAPS_PRIMARYBUFFER) != 0) {
          buffer = new SoundBuffer(flags, primaryFormat_, nullptr);
          buffer->SetPrimaryLevel(level_);
        } else {
          std::uint8_t fill;
          {
            std::lock_guard lock(State().mutex);
            fill = State().newBufferFill;
          }
          buffer = new SoundBuffer(flags, *format, std::make_shared<SoundData>(bytes, fill));
        }
      } catch (const std::bad_alloc&) {
        hr = DSERR_OUTOFMEMORY;
      }
    }
    LogCall("CreateSoundBuffer", id_,
            {flags, bytes, buffer != nullptr ? static_cast<std::int64_t>(buffer->id()) : 0}, hr, format);
    if (buffer != nullptr) *out = buffer;
    return hr;
  }

  HRESULT DuplicateSoundBuffer(IDirectSoundBuffer* source, IDirectSoundBuffer** out) override {
    if (out != nullptr) *out = nullptr;
    auto* original = dynamic_cast<SoundBuffer*>(source);
    HRESULT hr = DS_OK;
    if (ShouldFail("DuplicateSoundBuffer")) {
      hr = DSERR_GENERIC;
    } else if (!initialized_) {
      hr = DSERR_UNINITIALIZED;
    } else if (original == nullptr || out == nullptr) {
      hr = DSERR_INVALIDPARAM;
    } else if (original->primary()) {
      hr = DSERR_INVALIDCALL;
    }
    SoundBuffer* duplicate = nullptr;
    if (hr == DS_OK) {
      try {
        duplicate = new SoundBuffer(original->flags(), original->format(), original->data());
      } catch (const std::bad_alloc&) {
        hr = DSERR_OUTOFMEMORY;
      }
    }
    LogCall("DuplicateSoundBuffer", id_,
            {original != nullptr ? static_cast<std::int64_t>(original->id()) : 0,
             duplicate != nullptr ? static_cast<std::int64_t>(duplicate->id()) : 0},
            hr);
    if (duplicate != nullptr) *out = duplicate;
    return hr;
  }

  HRESULT GetCaps(DSCAPS* caps) override {
    HRESULT hr = DS_OK;
    const DWORD size = caps != nullptr ? caps->dwSize : 0;
    if (ShouldFail("GetCaps")) {
      hr = DSERR_GENERIC;
    } else if (!initialized_) {
      hr = DSERR_UNINITIALIZED;
    } else if (caps == nullptr || caps->dwSize != DSCAPS_DWSIZE) {
      hr = DSERR_INVALIDPARAM;
    }
    std::lock_guard lock(State().mutex);
    if (hr == DS_OK) {
      *caps = State().caps;
      caps->dwSize = DSCAPS_DWSIZE;
    }
    LogCallLocked("GetCaps", id_, {size}, hr);
    return hr;
  }

  ULONG Release() override {
    const std::uint64_t id = id_;
    const ULONG left = ComObject::Release();
    LogCall("Release", id, {left}, S_OK);
    return left;
  }

 private:
  ~SoundDevice() override {
    {
      std::lock_guard lock(State().mutex);
      --State().liveDevices;
    }
    if (initialized_) DeviceGone();
  }

  static bool KnownDevice(const GUID& guid) {
    std::lock_guard lock(State().mutex);
    for (const auto& entry : State().devices) {
      if (entry.hasGuid && entry.guid == guid) return true;
    }
    return false;
  }

  std::uint64_t id_ = 0;
  bool initialized_ = false;
  // Shared with the primary buffers, which may outlive the device.
  std::shared_ptr<DWORD> level_ = std::make_shared<DWORD>(0);
  // The primary format until SetFormat changes it; the mix itself stays 44100 Hz
  // 16-bit stereo whatever the primary format says.
  WAVEFORMATEX primaryFormat_{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
};

HRESULT CreateSoundDevice(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  SoundDevice* device;
  try {
    device = new SoundDevice();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = device->QueryInterface(iid, object);
  device->Release();
  return hr;
}

}  // namespace
}  // namespace platform::dsound

HRESULT DirectSoundEnumerateA(LPDSENUMCALLBACKA callback, void* context) {
  using namespace platform::dsound;
  if (platform::ShouldFail("DirectSoundEnumerateA")) {
    LogCall("DirectSoundEnumerateA", 0, {0}, DSERR_GENERIC);
    return DSERR_GENERIC;
  }
  if (callback == nullptr) {
    LogCall("DirectSoundEnumerateA", 0, {0}, DSERR_INVALIDPARAM);
    return DSERR_INVALIDPARAM;
  }
  std::vector<sim::SoundDeviceEntry> devices;
  {
    std::lock_guard lock(State().mutex);
    devices = State().devices;
  }
  // The callback runs unlocked: it may call anything, the device included.
  std::int64_t reported = 0;
  for (auto& entry : devices) {
    ++reported;
    if (!callback(entry.hasGuid ? &entry.guid : nullptr, entry.description.c_str(), entry.module.c_str(),
                  context)) {
      break;
    }
  }
  LogCall("DirectSoundEnumerateA", 0, {reported}, DS_OK);
  return DS_OK;
}

namespace platform {

void RegisterSoundDevice() {
  RegisterComClass(CLSID_DirectSound, &dsound::CreateSoundDevice);
  RegisterModule("DSOUND.DLL",
                 {{"DirectSoundEnumerateA", reinterpret_cast<FARPROC>(&DirectSoundEnumerateA)}});
  OnReset(&dsound::ResetSoundDevice);
  OnVirtualTimeAdvance(&dsound::OnClockAdvance);
  AddLiveObjectCounter(&dsound::LiveDataBlocks);
}

}  // namespace platform
