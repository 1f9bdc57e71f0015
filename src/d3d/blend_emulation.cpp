// Subtraction (blend mode 3) of textured draws: the device has no reverse subtract, so
// the destination is complemented, added to, and complemented back.
#include "d3d/graph_drawing.h"
#include "graphics/draw_state.h"

namespace gamelib {
namespace {

// A white box complementing the rectangle, drawn at white brightness in mode 3.
void ComplementBox(const RECT* rect) {
  int red = 0, green = 0, blue = 0;
  GetDrawBrightness(&red, &green, &blue);
  SetDrawBrightness(255, 255, 255);
  SetDrawBlendMode(BlendSub, 255);
  DrawFillBoxD3D(rect->left, rect->top, rect->right, rect->bottom, GetColor(255, 255, 255));
  SetDrawBrightness(red, green, blue);
}

}  // namespace

int BeginBlendMode3Emulation(const RECT* rect) {
  if (rect == nullptr) return -1;
  const int parameter = GetDrawState().blendParameter;
  ComplementBox(rect);
  SetDrawBlendMode(5, parameter);
  return 0;
}

int EndBlendMode3Emulation(const RECT* rect) {
  if (rect == nullptr) return -1;
  const int parameter = GetDrawState().blendParameter;
  ComplementBox(rect);
  SetDrawBlendMode(BlendSub, parameter);
  return 0;
}

}  // namespace gamelib
