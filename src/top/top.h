// The top layer's pieces that start-up hands to the core as hooks.
#pragma once

#include "graphics/graphics_hooks.h"
#include "platform/win32.h"

namespace gamelib {

// The pump's work (pump.cpp): every pass, and each millisecond an inactive window waits.
void RunFrameWork();
void RefillStreams();

// The subsystems' messages of the main window (window.cpp); true when handled.
bool DispatchSubsystemMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The graphics system with the 3-D back end behind the core's hooks (graphics.cpp).
Graphics3DHooks Direct3DHooks();
int InitializeGraphics();

// Fonts on the 3-D road (font_road.cpp): their hooks, set at graphics start-up. The 3-D
// object's release goes through the second, so that the font caches know their
// textures lost their pixels.
void InstallFontRoad();
int ReleaseDirect3DObjectAndFontCaches();
int TerminateGraphics();

}  // namespace gamelib
