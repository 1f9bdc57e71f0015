// Time: the real monotonic clock, or the tests' virtual clock that moves only when
// asked to (and with Sleep). Stand-ins follow its moves through advance hooks.
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"
#include "platform/win32.h"

namespace {

using AdvanceHook = void (*)(std::uint64_t, std::uint64_t);

std::mutex clockMutex;
bool virtualOn = false;
std::uint64_t virtualMicros = 0;
// Never destroyed: a stand-in's thread may still read the clock while the program exits.
std::vector<AdvanceHook>& AdvanceHooks() {
  static auto* hooks = new std::vector<AdvanceHook>;
  return *hooks;
}
std::vector<void (*)(DWORD)>& SleepHooks() {
  static auto* hooks = new std::vector<void (*)(DWORD)>;
  return *hooks;
}

std::uint64_t RealMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

std::uint64_t NowMicros() {
  {
    std::lock_guard lock(clockMutex);
    if (virtualOn) return virtualMicros;
  }
  return RealMicros();
}

void RealSleep(DWORD milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

namespace platform {

void OnVirtualTimeAdvance(AdvanceHook hook) {
  if (hook == nullptr) return;
  std::lock_guard lock(clockMutex);
  auto& hooks = AdvanceHooks();
  if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end()) hooks.push_back(hook);
}

void OnSleep(void (*hook)(DWORD milliseconds)) {
  if (hook == nullptr) return;
  std::lock_guard lock(clockMutex);
  auto& hooks = SleepHooks();
  if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end()) hooks.push_back(hook);
}

namespace detail {
void ResetClock() {
  std::lock_guard lock(clockMutex);
  virtualOn = false;
  virtualMicros = 0;
}
}  // namespace detail

}  // namespace platform

namespace sim {

void UseVirtualClock(bool on) {
  std::lock_guard lock(clockMutex);
  virtualOn = on;
}

bool VirtualClockInUse() {
  std::lock_guard lock(clockMutex);
  return virtualOn;
}

void AdvanceTime(unsigned ms) { AdvanceTimeMicros(static_cast<std::uint64_t>(ms) * 1000u); }

void AdvanceTimeMicros(std::uint64_t micros) {
  if (micros == 0) return;
  platform::detail::EnsureBuiltins();
  std::uint64_t from;
  std::uint64_t to;
  std::vector<AdvanceHook> hooks;
  {
    std::lock_guard lock(clockMutex);
    from = virtualMicros;
    to = from + micros < from ? UINT64_MAX : from + micros;
    virtualMicros = to;
    hooks = AdvanceHooks();
  }
  // Hooks (the sound mixer) run unlocked: they may read the clock themselves.
  for (AdvanceHook hook : hooks) hook(from, to);
}

std::uint64_t VirtualTimeMicros() {
  std::lock_guard lock(clockMutex);
  return virtualMicros;
}

}  // namespace sim

void Sleep(DWORD milliseconds) {
  std::vector<void (*)(DWORD)> hooks;
  {
    std::lock_guard lock(clockMutex);
    hooks = SleepHooks();
  }
  for (auto hook : hooks) hook(milliseconds);
  if (sim::VirtualClockInUse()) {
    sim::AdvanceTime(milliseconds);
    return;
  }
  RealSleep(milliseconds);
}

DWORD timeGetTime() { return static_cast<DWORD>(NowMicros() / 1000u); }

UINT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }
UINT timeEndPeriod(UINT) { return TIMERR_NOERROR; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) return FALSE;
  count->QuadPart = static_cast<LONGLONG>(NowMicros());
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = 1000000;
  return TRUE;
}
