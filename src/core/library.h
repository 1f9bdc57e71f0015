// Internal state of the library as a whole.
#pragma once

#include <mutex>

namespace gamelib {

// Taken by start-up, shutdown and the message pump; re-entrant, so the pump may be run
// from inside start-up or shutdown work.
std::recursive_mutex& LibraryLock();
bool LibraryStarted();

constexpr const char* kLibraryVersion = "2.25b";

}  // namespace gamelib
