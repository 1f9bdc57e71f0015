// The test control surface of the platform stand-ins. Tests (and tools that render
// offline) drive the platform through these, deterministically.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Every stand-in back to its defaults: virtual clock off and at 0, no faults, all
// modules present, no windows, window classes or queued messages, no captured
// output, call counts cleared, the application active; then the stand-ins'
// registrations run again and their reset hooks run. What callers still hold (open
// files and searches, module loads, COM objects, CoInitialize) is left to them, so
// a leak stays visible in LiveObjects.
void Reset();

// The virtual clock: while it is on, time moves only through AdvanceTime (and Sleep,
// which advances it by its argument); timeGetTime and the performance counter read it.
void UseVirtualClock(bool on);
bool VirtualClockInUse();
void AdvanceTime(unsigned ms);
void AdvanceTimeMicros(std::uint64_t micros);
std::uint64_t VirtualTimeMicros();

// The sound device's output (SoundOutputName) is chosen when the first device is
// initialised, and closes with the last one. With the virtual clock in use then, it is
// "offline": mixed only as the clock moves, and read back with ReadMixedOutput.
// Otherwise GAMELIB_AUDIO chooses: "offline" (the same, for tools that move the clock
// themselves), "null" (mixed in real time and dropped), "wav:PATH" (real time into a
// WAVE file) or "sdl" (a real audio device); unset or anything else, "sdl" when a sound
// card or server seems present, else "null". A file or device that cannot open gives
// "null". Moving the clock while a device is initialised switches to "offline", so a
// test may turn the clock on after its device started. Reset closes the output; a
// device left alive stays silent until the clock moves or another device starts.

// Fault injection: the nth next call (1 = the very next) of the named operation fails,
// `times` calls in a row. Names are the platform's ("DuplicateSoundBuffer",
// "CreateFileA", "HeapAlloc").
void FailCall(const char* operation, int nth, int times = 1);
void ClearFailures();
// How many calls of the operation were made since the last Reset.
int CallCount(const char* operation);

// Everything written with OutputDebugStringA since the last take.
std::string TakeDebugOutput();

// Modules: make a registered module (e.g. "DSOUND.DLL") present or missing, or
// hide one of its exports.
void SetModulePresent(const char* name, bool present);
void SetModuleExportPresent(const char* module, const char* exportName, bool present);
int LiveModuleLoads();

// Windows: the activation state that WM_ACTIVATEAPP reports (posted to every window).
void SetAppActive(bool active);
bool AppActive();

// Live stand-in objects of every kind (COM objects, module loads, open files, find
// handles): 0 after a clean shutdown.
int LiveObjects();

}  // namespace sim

#include "platform/sim_sound.h"
#include "platform/sim_mci.h"
#include "platform/sim_acm.h"
#include "platform/sim_display.h"
