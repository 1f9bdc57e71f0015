// Internal control of the main window, for start-up, shutdown and the pump.
#pragma once

#include "platform/win32.h"

namespace gamelib {

// Registers the class and creates the invisible main window. -1 (logged) when a main
// window of this library already exists or the platform refuses.
int CreateMainWindow();
// Destroys the window (if still there) and unregisters the class.
void DestroyMainWindow();
bool MainWindowExists();
bool MainWindowActive();
// The quit flag without a WM_DESTROY (a WM_QUIT seen by the pump).
void SetQuitFlag();

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The top layer's share of the window procedure: messages meant for the subsystems
// (MCI notifications, activation). It is asked about every message the core does not
// finish itself and returns true for one it handled.
using WindowMessageHandler = bool (*)(UINT message, WPARAM wParam, LPARAM lParam);
void SetWindowMessageHandler(WindowMessageHandler handler);

}  // namespace gamelib
