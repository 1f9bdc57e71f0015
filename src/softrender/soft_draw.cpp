#include "softrender/triangle.h"

namespace gamelib {

int DrawTriangleGraphSoft(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, std::uint32_t colour,
                          int trans) {
  if (dest == nullptr || vertices == nullptr) return -1;
  DrawMemImgTriangle(dest, src, vertices, trans, GetBlendMemImg(), colour);
  return 0;
}

int DrawQuadGraphSoft(MEMIMG* dest, int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                      const MEMIMG* src, int trans) {
  if (dest == nullptr || src == nullptr) return -1;
  const int w = src->width;
  const int h = src->height;
  const TriVertex corners[4] = {{x1, y1, 0, 0}, {x2, y2, w, 0}, {x3, y3, 0, h}, {x4, y4, w, h}};
  DrawMemImgQuad(dest, src, corners, trans, GetBlendMemImg());
  return 0;
}

}  // namespace gamelib
