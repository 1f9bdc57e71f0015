// DrawQuadGraph: texture graphs through the device's quadrilateral drawing, graphs in
// plain surfaces or memory images through the software renderer's.
#include <algorithm>
#include <cmath>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/graph_drawing.h"
#include "d3d/quad_drawing.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "graphics/draw_state.h"
#include "graphics/graph_records.h"
#include "softrender/soft_target.h"
#include "top/drawing_roads.h"

namespace gamelib {

int DrawQuadGraph(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4, int graph,
                  int transFlag) {
  GraphRecord* g = GetGraphRecord(graph);
  if (g == nullptr) return -1;
  const float corners[8] = {x1, y1, x2, y2, x3, y3, x4, y4};
  // A corner that is not a number has no place on the screen.
  if (!std::all_of(corners, corners + 8, [](float v) { return std::isfinite(v); })) return -1;
  // Clockwise from the top left: 4 is the bottom left, 3 the bottom right.
  if (!g->useTexture) {
    const int c[8] = {FloatToInt(x1), FloatToInt(y1), FloatToInt(x2), FloatToInt(y2),
                      FloatToInt(x4), FloatToInt(y4), FloatToInt(x3), FloatToInt(y3)};
    return DrawGraphQuadSoft(g, c, transFlag);
  }
  if (!Use3D()) return -1;
  const int xs[4] = {FloatToInt(x1), FloatToInt(x2), FloatToInt(x3), FloatToInt(x4)};
  const int ys[4] = {FloatToInt(y1), FloatToInt(y2), FloatToInt(y3), FloatToInt(y4)};
  const RECT box{*std::min_element(xs, xs + 4), *std::min_element(ys, ys + 4), *std::max_element(xs, xs + 4),
                 *std::max_element(ys, ys + 4)};
  return WithBlendMode3(box, [&] { return DrawQuadGraphD3D(x1, y1, x2, y2, x4, y4, x3, y3, g, transFlag); });
}

}  // namespace gamelib
