// The MCI stand-in: MIDI sequencer devices that play silently for a length the tests
// choose, on the virtual clock, and post MM_MCINOTIFY to the window that asked for it
// when a play ends, is stopped, closed or superseded. Every command is recorded.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/mci.h"
#include "platform/sim.h"

namespace {

struct Device {
  bool playing = false;
  DWORD lengthMs = 0;    // 0: endless, a play runs until a test ends it
  DWORD positionMs = 0;  // where the device stands while stopped
  std::uint64_t startMicros = 0;
  DWORD startMs = 0;            // position at startMicros
  DWORD endMs = 0;              // where the current play stops, when bounded
  bool bounded = false;         // the current play has an end: a length or MCI_TO
  HWND notifyWindow = nullptr;  // a notification is pending while set
};

struct Notification {
  HWND window;
  WPARAM flag;
  MCIDEVICEID device;
};

struct MciState {
  std::map<MCIDEVICEID, Device> devices;
  std::vector<sim::MciCall> calls;
  MCIDEVICEID nextId = 1;
  DWORD playLengthMs = 0;
};

std::mutex mciMutex;
// Never destroyed: the clock's hooks may still run while the program exits.
MciState& State() {
  static auto* state = new MciState;
  return *state;
}

bool Endless(const Device& d) { return d.lengthMs == 0; }

DWORD CurrentPosition(const Device& d, std::uint64_t now) {
  if (!d.playing) return d.positionMs;
  std::uint64_t elapsed = now > d.startMicros ? (now - d.startMicros) / 1000u : 0;
  std::uint64_t position = d.startMs + elapsed;
  if (d.bounded && position > d.endMs) position = d.endMs;
  return position > UINT32_MAX ? UINT32_MAX : static_cast<DWORD>(position);
}

// Takes a pending notification off the device, to be posted once the lock is gone.
void Settle(Device& d, MCIDEVICEID id, WPARAM flag, std::vector<Notification>& out) {
  if (d.notifyWindow != nullptr) out.push_back({d.notifyWindow, flag, id});
  d.notifyWindow = nullptr;
}

void Finish(Device& d, MCIDEVICEID id, std::vector<Notification>& out) {
  d.playing = false;
  d.positionMs = d.endMs;
  Settle(d, id, MCI_NOTIFY_SUCCESSFUL, out);
}

void PostAll(const std::vector<Notification>& notes) {
  for (const Notification& n : notes) {
    PostMessageA(n.window, MM_MCINOTIFY, n.flag, static_cast<LPARAM>(n.device));
  }
}

HWND CallbackWindow(DWORD_PTR params) {
  return params == 0 ? nullptr
                     : reinterpret_cast<HWND>(reinterpret_cast<const MCI_GENERIC_PARMS*>(params)->dwCallback);
}

// A command that completes at once notifies at once.
void NotifyDone(DWORD_PTR flags, DWORD_PTR params, MCIDEVICEID id, std::vector<Notification>& out) {
  if ((flags & MCI_NOTIFY) == 0) return;
  if (HWND window = CallbackWindow(params)) out.push_back({window, MCI_NOTIFY_SUCCESSFUL, id});
}

bool SameText(const char* a, const char* b) {
  return platform::detail::FoldCase(a) == platform::detail::FoldCase(b);
}

bool IsMidiFileName(const std::string& name) {
  std::string folded = platform::detail::FoldCase(name);
  for (const char* ext : {".mid", ".midi", ".rmi"}) {
    std::string e(ext);
    if (folded.size() > e.size() && folded.compare(folded.size() - e.size(), e.size(), e) == 0) return true;
  }
  return false;
}

MCIERROR Open(MciState& s, DWORD_PTR flags, DWORD_PTR params, std::vector<Notification>& out) {
  if (params == 0) return MCIERR_NULL_PARAMETER_BLOCK;
  auto* p = reinterpret_cast<MCI_OPEN_PARMSA*>(params);
  bool hasType = (flags & MCI_OPEN_TYPE) != 0 && p->lpstrDeviceType != nullptr;
  bool hasElement = (flags & MCI_OPEN_ELEMENT) != 0 && p->lpstrElementName != nullptr;
  if (!hasType && !hasElement) return MCIERR_MISSING_PARAMETER;
  if (hasType && !SameText(p->lpstrDeviceType, "sequencer")) return MCIERR_INVALID_DEVICE_NAME;
  if (hasElement) {
    std::string path(p->lpstrElementName);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!hasType && !IsMidiFileName(path)) return MCIERR_INVALID_DEVICE_NAME;
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return MCIERR_FILE_NOT_FOUND;
  }
  MCIDEVICEID id = s.nextId++;
  Device d;
  d.lengthMs = s.playLengthMs;
  s.devices[id] = d;
  p->wDeviceID = id;
  NotifyDone(flags, params, id, out);
  return 0;
}

MCIERROR Play(MciState& s, MCIDEVICEID id, DWORD_PTR flags, DWORD_PTR params,
              std::vector<Notification>& out) {
  auto it = s.devices.find(id);
  if (it == s.devices.end()) return MCIERR_INVALID_DEVICE_ID;
  if ((flags & (MCI_NOTIFY | MCI_FROM | MCI_TO)) != 0 && params == 0) return MCIERR_NULL_PARAMETER_BLOCK;
  Device& d = it->second;
  const auto* p = reinterpret_cast<const MCI_PLAY_PARMS*>(params);
  std::uint64_t now = sim::VirtualTimeMicros();
  DWORD from = (flags & MCI_FROM) != 0 ? p->dwFrom : CurrentPosition(d, now);
  DWORD to = (flags & MCI_TO) != 0 ? p->dwTo : d.lengthMs;
  if (!Endless(d) && (from > d.lengthMs || to > d.lengthMs)) return MCIERR_OUTOFRANGE;
  if ((flags & MCI_TO) != 0 && to < from) return MCIERR_OUTOFRANGE;

  // A new notifying command supersedes the one still pending.
  if ((flags & MCI_NOTIFY) != 0) Settle(d, id, MCI_NOTIFY_SUPERSEDED, out);
  d.playing = true;
  d.startMicros = now;
  d.startMs = from;
  d.endMs = to;
  // An endless device still stops at an explicit end.
  d.bounded = !Endless(d) || (flags & MCI_TO) != 0;
  if ((flags & MCI_NOTIFY) != 0) d.notifyWindow = reinterpret_cast<HWND>(p->dwCallback);
  if (d.bounded && to <= from) Finish(d, id, out);
  return 0;
}

// Stops a play in progress; a pending notification is aborted.
void Halt(Device& d, MCIDEVICEID id, std::vector<Notification>& out) {
  d.positionMs = CurrentPosition(d, sim::VirtualTimeMicros());
  d.playing = false;
  Settle(d, id, MCI_NOTIFY_ABORTED, out);
}

MCIERROR Dispatch(MciState& s, MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR params,
                  std::vector<Notification>& out) {
  if (message == MCI_OPEN) return Open(s, flags, params, out);
  if (message == MCI_PLAY) return Play(s, device, flags, params, out);
  if (message != MCI_STOP && message != MCI_CLOSE) return MCIERR_UNRECOGNIZED_COMMAND;
  auto it = s.devices.find(device);
  if (it == s.devices.end()) return MCIERR_INVALID_DEVICE_ID;
  Halt(it->second, device, out);
  if (message == MCI_CLOSE) s.devices.erase(it);
  NotifyDone(flags, params, device, out);
  return 0;
}

void RecordCall(MciState& s, MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR params) {
  sim::MciCall call;
  call.device = device;
  call.message = message;
  call.flags = flags;
  call.hasParams = params != 0;
  if (params != 0) {
    call.callback = reinterpret_cast<const MCI_GENERIC_PARMS*>(params)->dwCallback;
    if (message == MCI_PLAY) {
      const auto* p = reinterpret_cast<const MCI_PLAY_PARMS*>(params);
      call.from = p->dwFrom;
      call.to = p->dwTo;
    }
  }
  s.calls.push_back(call);
}

void OnClockAdvance(std::uint64_t, std::uint64_t toMicros) {
  std::vector<Notification> out;
  {
    std::lock_guard lock(mciMutex);
    for (auto& [id, d] : State().devices) {
      if (!d.playing || !d.bounded) continue;
      std::uint64_t endMicros = d.startMicros + static_cast<std::uint64_t>(d.endMs - d.startMs) * 1000u;
      if (endMicros <= toMicros) Finish(d, id, out);
    }
  }
  PostAll(out);
}

void ResetMci() {
  std::lock_guard lock(mciMutex);
  MciState& s = State();
  s.devices.clear();
  s.calls.clear();
  s.nextId = 1;
  s.playLengthMs = 0;
}

int LiveDevices() {
  std::lock_guard lock(mciMutex);
  return static_cast<int>(State().devices.size());
}

}  // namespace

MCIERROR mciSendCommandA(MCIDEVICEID device, UINT message, DWORD_PTR flags, DWORD_PTR params) {
  platform::detail::EnsureBuiltins();
  bool fail = platform::ShouldFail("mciSendCommandA");
  std::vector<Notification> out;
  MCIERROR result;
  {
    std::lock_guard lock(mciMutex);
    MciState& s = State();
    RecordCall(s, device, message, flags, params);
    result = fail ? MCIERR_HARDWARE : Dispatch(s, device, message, flags, params, out);
    s.calls.back().result = result;
  }
  PostAll(out);
  return result;
}

namespace platform {

void RegisterMci() {
  OnReset(&ResetMci);
  OnVirtualTimeAdvance(&OnClockAdvance);
  AddLiveObjectCounter(&LiveDevices);
}

}  // namespace platform

namespace sim {

std::vector<MciCall> MciCalls() {
  std::lock_guard lock(mciMutex);
  return State().calls;
}

void ClearMciCalls() {
  std::lock_guard lock(mciMutex);
  State().calls.clear();
}

void SetMciPlayLength(DWORD milliseconds) {
  std::lock_guard lock(mciMutex);
  State().playLengthMs = milliseconds;
}

bool EndMciPlayback(MCIDEVICEID device) {
  std::vector<Notification> out;
  {
    std::lock_guard lock(mciMutex);
    auto it = State().devices.find(device);
    if (it == State().devices.end() || !it->second.playing) return false;
    Device& d = it->second;
    d.endMs = CurrentPosition(d, VirtualTimeMicros());
    Finish(d, device, out);
  }
  PostAll(out);
  return true;
}

bool MciDeviceOpen(MCIDEVICEID device) {
  std::lock_guard lock(mciMutex);
  return State().devices.count(device) != 0;
}

bool MciDevicePlaying(MCIDEVICEID device) {
  std::lock_guard lock(mciMutex);
  auto it = State().devices.find(device);
  return it != State().devices.end() && it->second.playing;
}

int LiveMciDevices() { return LiveDevices(); }

}  // namespace sim
