// Internal parts of the message pump.
#pragma once

namespace gamelib {

// Dispatches whatever messages are waiting (bounded), without the per-frame work:
// the last pass at shutdown.
void DrainWindowMessages();

// Tests watch the per-frame work through this: called with "stream" (stream refill),
// "music" (music state) and "input" at the points where that work runs.
using PumpWorkObserver = void (*)(const char* step);
void SetPumpWorkObserver(PumpWorkObserver observer);

}  // namespace gamelib
