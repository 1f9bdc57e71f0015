// What the drawing entries share: whether the 3-D road is open, and blend mode 3 on it.
#pragma once

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/graph_drawing.h"
#include "gamelib/graphics.h"
#include "graphics/draw_state.h"

namespace gamelib {

inline bool Use3D() { return Direct3DAvailable() && GetDeviceValid() != nullptr; }

// The device draws blend mode 3 of a texture as a complement, an addition and a
// complement again over the rectangle the draw covers.
template <class Draw>
int WithBlendMode3(const RECT& rect, Draw&& draw) {
  if (GetDrawState().blendMode != BlendSub) return draw();
  BeginBlendMode3Emulation(&rect);
  const int result = draw();
  EndBlendMode3Emulation(&rect);
  return result;
}

}  // namespace gamelib
