// Rectangle clipping and matrix helpers.
#include "graphics/graphics_math.h"

#include <algorithm>

namespace gamelib {

int ClipRect(RECT* rect, const RECT* clip) {
  if (rect == nullptr || clip == nullptr) return 0;
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;
  auto clamp = [](LONG v, LONG lo, LONG hi) { return hi < lo ? lo : std::clamp(v, lo, hi); };
  rect->top = clamp(rect->top, clip->top, clip->bottom);
  rect->bottom = clamp(rect->bottom, clip->top, clip->bottom);
  rect->left = clamp(rect->left, clip->left, clip->right);
  rect->right = clamp(rect->right, clip->left, clip->right);
  return 0;
}

void MultiplyMatrix(float (*out)[4], const float (*a)[4], const float (*b)[4]) {
  float result[4][4];
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      result[r][c] = a[r][0] * b[0][c] + a[r][1] * b[1][c] + a[r][2] * b[2][c] + a[r][3] * b[3][c];
    }
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) out[r][c] = result[r][c];
  }
}

float DotProduct3(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace gamelib
