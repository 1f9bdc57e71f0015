// Small geometry helpers of the graphics core: rectangle clipping and 4 x 4 matrices.
#pragma once

#include "platform/win32.h"

namespace gamelib {

// Raises right to left and bottom to top where they are smaller, then clamps the
// rectangle into `clip`; one wholly outside ends with zero width or height. 0.
int ClipRect(RECT* rect, const RECT* clip);

// out = a x b (rows first); out may be a or b.
void MultiplyMatrix(float (*out)[4], const float (*a)[4], const float (*b)[4]);

struct Vector3 {
  float x, y, z;
};
float DotProduct3(const Vector3& a, const Vector3& b);

}  // namespace gamelib
