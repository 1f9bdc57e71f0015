// Internal parts of the message pump.
#pragma once

namespace gamelib {

// The subsystems' work that PumpWindowMessages runs: `eachFrame` once per pass after
// the messages, `whileInactive` after each millisecond an inactive window waits. The
// top layer sets it at start-up; neither runs from inside the other or itself.
struct PumpWork {
  void (*eachFrame)();
  void (*whileInactive)();
};
void SetPumpWork(PumpWork work);

// Dispatches whatever messages are waiting (bounded), without the per-frame work:
// the last pass at shutdown.
void DrainWindowMessages();

// Tests watch the per-frame work through this: the work reports "stream" (stream
// refill), "music" (music state) and "input" at the points where it runs them.
using PumpWorkObserver = void (*)(const char* step);
void SetPumpWorkObserver(PumpWorkObserver observer);
void ReportPumpWork(const char* step);

}  // namespace gamelib
