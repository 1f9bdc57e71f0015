// The screen: the DirectDraw object, the primary surface with its back buffer, the work
// surface, the screen mode and its change, restoring after a loss, and the flip.
#pragma once

#include "gamelib/graphics.h"
#include "platform/ddraw.h"

namespace gamelib {

// Null before DirectDraw exists.
IDirectDraw7* GetDirectDrawObject();
// The primary surface (no front-buffer emulation), the back buffer, the work surface.
IDirectDrawSurface7* GetFrontSurface();
IDirectDrawSurface7* GetBackSurface();
IDirectDrawSurface7* GetWorkSurface();
// The surface of the current draw screen (null for a graph without one).
IDirectDrawSurface7* GetDrawTargetSurface();
// 1 when windowed and drawing to the primary.
int IsDrawTargetPrimary();

// 16 when no screen was made; the screen's layout; 640 x 480 when unset (either
// pointer may be null).
int GetScreenColorBitDepth();
const ColorData* GetScreenColorData();
const DDPIXELFORMAT* GetScreenPixelFormat();
void GetScreenSize(int* width, int* height);
int GetActiveDrawScreen();

// Whether new graphs go to textures: use-3-D on, a device present, not refused.
bool UseTexturesForNewGraphs();

// The whole graphics start-up: DirectDraw, the screen mode (with the 3-D back end when
// allowed; without it when it refuses), graph management, both pages cleared. 0 or -1,
// and on -1 nothing is left behind.
int InitializeGraphicsSystem();
// Graphs, the 3-D back end, the screen surfaces and DirectDraw, in that order.
int TerminateGraphicsSystem();
bool GraphicsSystemRunning();

// Rebuilds the screen surfaces in the mode set with SetGraphMode: the 3-D back end is
// ended before the old surfaces go and started again after the new ones exist. -1 when
// a surface cannot be made or the 3-D start-up fails.
int ChangeScreenModeCore();
// Gives up DirectDraw (and the 3-D back end first).
int TerminateDirectDraw();
// After lost surfaces: the 3-D object goes, the screen surfaces come back, the 3-D
// object and device come back, every graph's surfaces are restored and the restore
// callback runs. 0 or -1.
int RestoreGraphSystem();

}  // namespace gamelib

namespace gamelib {
// Makes GetScreenColorBitDepth report `depth` (0: the real one), for screens the
// display cannot make, such as 8 bits.
void OverrideScreenColorBitDepth(int depth);
}  // namespace gamelib
