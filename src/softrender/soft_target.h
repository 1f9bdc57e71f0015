// The draw target as a memory image for the software renderer: a memory-image graph,
// or a plain surface or screen page locked for the call.
#pragma once

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"

namespace gamelib {

// A locked draw target; Release unlocks it.
struct SoftDrawTarget {
  MEMIMG image{};
  MemImgSharedRecord shared{};
  int surfaceHandle = -1;         // locked through the surface table
  void* directSurface = nullptr;  // a screen page locked directly
  bool locked = false;
};

// Closes the device's scene and locks the draw target. 0, or -1 when the target is not
// one the software renderer draws into (a texture, a format other than 5-6-5 or
// X8R8G8B8, or a failed lock).
int BeginSoftDraw(SoftDrawTarget* target);
void EndSoftDraw(SoftDrawTarget* target);

// The memory-image kind of a surface layout, or -1.
int MemImgKindOf(const ColorData* colorData);

// Boxes on the software draw target under the draw state's blend mode, parameter and
// brightness; the colour is a screen-format pixel value. 0, or -1 without a target.
int DrawFillBoxSoft(int x1, int y1, int x2, int y2, int colour);
int DrawBoxOutlineSoft(int x1, int y1, int x2, int y2, int colour);
// The same on a given image, clipped to the draw area and the image.
int FillMemImgBox(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t colour);
int OutlineMemImgBox(MEMIMG* dest, int x1, int y1, int x2, int y2, std::uint32_t colour);

}  // namespace gamelib

namespace gamelib {

struct GraphRecord;

// A graph kept in a plain surface or memory image drawn onto the software draw target
// as the quadrilateral of its corners (top-left, top-right, bottom-left, bottom-right,
// x then y). 0, or -1 when either side cannot be drawn in software.
int DrawGraphQuadSoft(GraphRecord* graph, const int (&corners)[8], int transparent);

}  // namespace gamelib
