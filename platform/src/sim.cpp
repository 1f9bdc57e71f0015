// The base's side of the test controls: reset, the live-object count, and when the
// stand-ins' registrations run.
#include <algorithm>
#include <cctype>
#include <mutex>
#include <vector>

#include "base_internal.h"
#include "platform/com.h"
#include "platform/hooks.h"
#include "platform/sim.h"

namespace {

std::mutex hookMutex;
// Never destroyed: stand-ins may still call in while the program exits.
std::vector<void (*)()>& ResetHooks() {
  static auto* hooks = new std::vector<void (*)()>;
  return *hooks;
}
std::vector<int (*)()>& LiveCounters() {
  static auto* counters = new std::vector<int (*)()>;
  return *counters;
}

std::once_flag builtinsOnce;
// Registrations may use the platform themselves; they must not wait on their own run.
thread_local bool inBuiltins = false;

void RunBuiltins() {
  inBuiltins = true;
  platform::RegisterBuiltins();
  inBuiltins = false;
}

template <class T>
void AddOnce(std::vector<T>& list, T item) {
  if (item == nullptr) return;
  std::lock_guard lock(hookMutex);
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

template <class T>
std::vector<T> Snapshot(const std::vector<T>& list) {
  std::lock_guard lock(hookMutex);
  return list;
}

}  // namespace

namespace platform {

void OnReset(void (*hook)()) { AddOnce(ResetHooks(), hook); }
void AddLiveObjectCounter(int (*counter)()) { AddOnce(LiveCounters(), counter); }

namespace detail {

void EnsureBuiltins() {
  if (inBuiltins) return;
  std::call_once(builtinsOnce, RunBuiltins);
}

void RerunBuiltins() {
  if (inBuiltins) return;
  bool ranNow = false;
  std::call_once(builtinsOnce, [&] {
    RunBuiltins();
    ranNow = true;
  });
  if (!ranNow) RunBuiltins();
}

std::string FoldCase(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

}  // namespace detail
}  // namespace platform

namespace sim {

void Reset() {
  using namespace platform::detail;
  ResetWindows();
  ResetFaults();
  ResetClock();
  ResetModules();
  ResetDebugOutput();
  RerunBuiltins();
  for (auto hook : Snapshot(ResetHooks())) hook();
}

int LiveObjects() {
  using namespace platform::detail;
  EnsureBuiltins();
  int live = platform::LiveComObjects() + LiveModuleLoads() + LiveFileHandles() + LiveFindHandles();
  for (auto counter : Snapshot(LiveCounters())) live += counter();
  return live;
}

}  // namespace sim
