// The top layer's pieces that start-up hands to the core as hooks.
#pragma once

#include "platform/win32.h"

namespace gamelib {

// The pump's work (pump.cpp): every pass, and each millisecond an inactive window waits.
void RunFrameWork();
void RefillStreams();

// The subsystems' messages of the main window (window.cpp); true when handled.
bool DispatchSubsystemMessage(UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace gamelib
