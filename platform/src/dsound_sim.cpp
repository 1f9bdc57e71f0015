// The sound device's shared state, its call log, and its test controls.
#include <algorithm>
#include <cstring>

#include "dsound_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"

namespace platform::dsound {
namespace {

constexpr std::size_t kMaxCalls = 65536;

SoundBuffer* FindLocked(IDirectSoundBuffer* object) {
  for (SoundBuffer* buffer : State().buffers) {
    if (static_cast<IDirectSoundBuffer*>(buffer) == object) return buffer;
  }
  return nullptr;
}

sim::SoundBufferInfo InfoLocked(SoundBuffer* buffer) {
  sim::SoundBufferInfo info;
  info.object = buffer;
  info.id = buffer->id();
  info.dataId = buffer->primary() ? 0 : buffer->data()->id;
  info.primary = buffer->primary();
  info.flags = buffer->flags();
  info.format = buffer->format();
  info.bytes = buffer->primary() ? 0 : static_cast<DWORD>(buffer->data()->bytes.size());
  info.playing = buffer->playing;
  info.looping = buffer->playing && buffer->looping;
  info.status = (info.playing ? DSBSTATUS_PLAYING : 0) | (info.looping ? DSBSTATUS_LOOPING : 0);
  info.playCursor = buffer->cursor * buffer->format().nBlockAlign;
  info.lastSetPosition = buffer->lastSetPosition;
  info.volume = buffer->volume;
  info.refs = buffer->RefCount();
  info.openLocks = static_cast<int>(buffer->locks.size());
  return info;
}

}  // namespace

DeviceState& State() {
  static auto* state = [] {
    auto* s = new DeviceState;
    s->caps = DefaultCaps();
    s->devices = DefaultDevices();
    return s;
  }();
  return *state;
}

DSCAPS DefaultCaps() {
  DSCAPS caps{};
  caps.dwSize = DSCAPS_DWSIZE;
  caps.dwFlags = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                 DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT |
                 DSCAPS_SECONDARY16BIT | DSCAPS_CONTINUOUSRATE;
  caps.dwMinSecondarySampleRate = DSBFREQUENCY_MIN;
  caps.dwMaxSecondarySampleRate = DSBFREQUENCY_MAX;
  caps.dwPrimaryBuffers = 1;
  return caps;
}

std::vector<sim::SoundDeviceEntry> DefaultDevices() {
  sim::SoundDeviceEntry primary;
  primary.description = "Primary Sound Driver";
  sim::SoundDeviceEntry mixer;
  mixer.hasGuid = true;
  mixer.guid = {0x6b1f3c30, 0x41d2, 0x4e57, {0x9a, 0x10, 0x4d, 0x69, 0x78, 0x65, 0x72, 0x01}};
  mixer.description = "Software Mixer";
  mixer.module = "softmix";
  return {primary, mixer};
}

void LogCallLocked(const char* op, std::uint64_t object, std::initializer_list<std::int64_t> args,
                   HRESULT result, const WAVEFORMATEX* format) {
  auto& calls = State().calls;
  if (calls.size() >= kMaxCalls) calls.pop_front();
  sim::SoundCall call;
  call.op = op;
  call.object = object;
  call.args = args;
  call.result = result;
  if (format != nullptr) {
    call.hasFormat = true;
    call.format = *format;
  }
  calls.push_back(std::move(call));
}

void LogCall(const char* op, std::uint64_t object, std::initializer_list<std::int64_t> args, HRESULT result,
             const WAVEFORMATEX* format) {
  std::lock_guard lock(State().mutex);
  LogCallLocked(op, object, args, result, format);
}

void ResetSoundDevice() {
  ResetOutput();
  std::lock_guard lock(State().mutex);
  DeviceState& s = State();
  s.caps = DefaultCaps();
  s.devices = DefaultDevices();
  s.newBufferFill = 0;
  s.failingCreateFlags.clear();
  s.calls.clear();
  s.captured.clear();
  for (SoundBuffer* buffer : s.buffers) {
    buffer->tapping = false;
    buffer->tap.clear();
  }
}

int LiveDataBlocks() {
  std::lock_guard lock(State().mutex);
  return State().liveData;
}

}  // namespace platform::dsound

namespace sim {

using namespace platform::dsound;

std::size_t ReadMixedOutput(std::vector<std::int16_t>& frames) {
  std::lock_guard lock(State().mutex);
  frames.swap(State().captured);
  State().captured.clear();
  return frames.size() / 2;
}

std::string SoundOutputName() { return OutputName(); }

void SetSoundCaps(const DSCAPS& caps) {
  std::lock_guard lock(State().mutex);
  State().caps = caps;
}

DSCAPS DefaultSoundCaps() { return DefaultCaps(); }

void SetSoundDllPresent(bool present, bool enumerateExport) {
  SetModulePresent("DSOUND.DLL", present);
  SetModuleExportPresent("DSOUND.DLL", "DirectSoundEnumerateA", enumerateExport);
}

void SetSoundDevices(const std::vector<SoundDeviceEntry>& devices) {
  std::lock_guard lock(State().mutex);
  State().devices = devices;
}

std::vector<SoundDeviceEntry> DefaultSoundDevices() { return DefaultDevices(); }

void SetNewSoundBufferFill(std::uint8_t byte) {
  std::lock_guard lock(State().mutex);
  State().newBufferFill = byte;
}

void FailCreateSoundBufferFlags(DWORD flags, bool fail) {
  std::lock_guard lock(State().mutex);
  if (fail) {
    State().failingCreateFlags.insert(flags);
  } else {
    State().failingCreateFlags.erase(flags);
  }
}

std::vector<SoundBufferInfo> SoundBuffers() {
  std::lock_guard lock(State().mutex);
  std::vector<SoundBufferInfo> list;
  for (SoundBuffer* buffer : State().buffers) list.push_back(InfoLocked(buffer));
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
  return list;
}

bool InspectSoundBuffer(IDirectSoundBuffer* object, SoundBufferInfo* info) {
  std::lock_guard lock(State().mutex);
  SoundBuffer* buffer = FindLocked(object);
  if (buffer == nullptr) return false;
  if (info != nullptr) *info = InfoLocked(buffer);
  return true;
}

std::vector<std::uint8_t> SoundBufferContents(IDirectSoundBuffer* object) {
  std::lock_guard lock(State().mutex);
  SoundBuffer* buffer = FindLocked(object);
  if (buffer == nullptr || buffer->primary()) return {};
  std::vector<std::uint8_t> bytes = buffer->data()->bytes;
  // What is playable: a lock that hands out the bytes themselves has not written yet.
  for (const SoundBuffer* b : State().buffers) {
    if (b->data() != buffer->data()) continue;
    for (const auto& open : b->locks) {
      if (open.direct != nullptr && open.detached.empty())
        std::memset(bytes.data() + open.offset, buffer->data()->fill, open.bytes1);
    }
  }
  return bytes;
}

bool SetPlayCursor(IDirectSoundBuffer* object, DWORD bytes) {
  std::lock_guard lock(State().mutex);
  SoundBuffer* buffer = FindLocked(object);
  if (buffer == nullptr || buffer->primary()) return false;
  const std::uint32_t frame = bytes / buffer->format().nBlockAlign;
  if (frame >= buffer->frames()) return false;
  buffer->cursor = frame;
  buffer->JumpedLocked();
  return true;
}

bool StartSoundTap(IDirectSoundBuffer* object) {
  std::lock_guard lock(State().mutex);
  SoundBuffer* buffer = FindLocked(object);
  if (buffer == nullptr || buffer->primary()) return false;
  buffer->tapping = true;
  buffer->tap.clear();
  return true;
}

std::vector<std::uint8_t> TakeSoundTap(IDirectSoundBuffer* object) {
  std::lock_guard lock(State().mutex);
  SoundBuffer* buffer = FindLocked(object);
  if (buffer == nullptr) return {};
  std::vector<std::uint8_t> bytes;
  bytes.swap(buffer->tap);
  return bytes;
}

std::vector<SoundCall> SoundCalls() {
  std::lock_guard lock(State().mutex);
  return {State().calls.begin(), State().calls.end()};
}

void ClearSoundCalls() {
  std::lock_guard lock(State().mutex);
  State().calls.clear();
}

int LiveSoundObjects() {
  std::lock_guard lock(State().mutex);
  return State().liveDevices + State().liveBuffers + State().liveData;
}

}  // namespace sim
