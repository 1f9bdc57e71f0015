// How the stand-ins plug into the platform base: COM classes, named modules, and
// their share of the test controls (reset, the virtual clock, fault injection).
// Stand-ins register from platform/src/builtins.cpp, which the base calls once.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "platform/com.h"

namespace platform {

void RegisterComClass(const CLSID& clsid, ComFactory factory);

struct ModuleExport {
  const char* name;
  FARPROC function;
};
// A module that LoadLibraryA can find by name (present by default; sim.h can hide it).
void RegisterModule(const char* name, std::initializer_list<ModuleExport> exports);

// Hooks run in registration order and without the base's locks held; registering
// the same hook again keeps it once.
// Called by sim::Reset(), after the base has reset itself.
void OnReset(void (*hook)());
// Called whenever the virtual clock moves, with the old and new time in microseconds.
void OnVirtualTimeAdvance(void (*hook)(std::uint64_t fromMicros, std::uint64_t toMicros));

// Called at the start of every Sleep, with its argument (the display trace records it).
void OnSleep(void (*hook)(DWORD milliseconds));

// Adds a count of a stand-in's live objects to sim::LiveObjects.
void AddLiveObjectCounter(int (*counter)());

// A stand-in asks this on every call of a platform operation that tests may fail;
// true means the call must fail. Counts calls per operation name.
bool ShouldFail(const char* operation);

// The stand-ins' registration, defined in builtins.cpp; run once on first use and
// again by sim::Reset (registering a class or module name again replaces it).
void RegisterBuiltins();

}  // namespace platform
