// Internal state of the library as a whole, and the core's steps of start-up and
// shutdown, which the top layer runs in its sequences.
#pragma once

#include <mutex>

namespace gamelib {

// Taken by start-up, shutdown and the message pump; re-entrant, so the pump may be run
// from inside start-up or shutdown work.
std::recursive_mutex& LibraryLock();
bool LibraryStarted();

constexpr const char* kLibraryVersion = "2.25b";

// ExitWithError runs this (the top layer's TerminateLibrary) before it ends the process.
using ShutdownHandler = int (*)();
void SetShutdownHandler(ShutdownHandler handler);

// -1 (logged) when the library is already started. Otherwise restores the default file
// functions, keeps the current directory, opens the log, writes the system report and
// counts the library as started: from here on a failure must run the whole shutdown.
int BeginLibraryStart();
// COM, then the main window. -1 (logged) when either fails.
int StartCoreServices();
// -1 when the library is not started or already stopping; otherwise marks it stopping.
int BeginLibraryStop();
// The last steps of every shutdown: the window, COM, the last messages, the start-up
// directory, the leak list, the memory cache and the log.
void FinishLibraryStop();

}  // namespace gamelib
