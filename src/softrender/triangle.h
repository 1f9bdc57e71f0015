// The software triangle rasteriser: set-up, edge walk and the pixel kernels.
#pragma once

#include <cstdint>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "softrender/memimg.h"

namespace gamelib {

// Signed fixed point with 18 fraction bits.
using Fixed18 = std::int32_t;
constexpr int kFixed18Shift = 18;
constexpr Fixed18 kFixed18One = 1 << kFixed18Shift;
constexpr Fixed18 kFixed18Half = 0x20000;

// Vertex coordinates (x, y, u, v) the rasteriser accepts; anything else draws nothing.
constexpr int kTriCoordMin = -8192;
constexpr int kTriCoordMax = 8191;

// Integer part of a Fixed18 value, rounded toward zero (also for negative values).
constexpr std::int64_t TruncFixed18(std::int64_t value) {
  return value < 0 ? (value + (kFixed18One - 1)) >> kFixed18Shift : value >> kFixed18Shift;
}

// Texture coordinates: of the origin pixel (x0, y0), and their steps per pixel.
struct TriGradients {
  int x0;
  int y0;
  Fixed18 u0;
  Fixed18 v0;
  Fixed18 dudx;
  Fixed18 dudy;
  Fixed18 dvdx;
  Fixed18 dvdy;
};

// One side of the triangle. X values are Fixed18 kept in 64 bits so that long edges
// cannot overflow; they equal the 32-bit values wherever those do not overflow.
struct TriEdge {
  std::int64_t x;
  std::int64_t step;
  int rowsLeft;
  int segment;         // 0, or 1 on the side's second segment
  int lastSegment;     // segment index of the side's last segment (0 or 1)
  std::int64_t nextX;  // second segment: start X, start Y, step and rows
  std::int64_t nextY;
  std::int64_t nextStep;
  int nextRows;
};

// Everything the row walk needs, computed once per triangle.
struct TriangleSetup {
  TriGradients gradients;
  TriEdge left;
  TriEdge right;
  int topRow;  // first row walked
  // Pixels of the vertices, rounded down: every span lies within them, so a triangle
  // whose bounds are inside the draw area needs no clipping.
  int minX;
  int maxX;
  int minY;
  int maxY;
};

// Converts, sorts and sets up the three vertices. 0, or -1 when the triangle draws
// nothing (x or y outside kTriCoordMin..kTriCoordMax, collinear vertices). u and v are
// not range-checked here: DrawMemImgTriangle checks them when it samples a source.
int SetUpTriangle(TriangleSetup* setup, const TriVertex* vertices);

// Draws the two halves of a quadrilateral (corners 0-1-2, then 1-2-3) as two calls of
// DrawMemImgTriangle would, checking the images and reading the draw state once. An
// unscaled, unturned sprite may be drawn row by row as a whole, with the same pixels.
void DrawMemImgQuad(MEMIMG* dest, const MEMIMG* src, const TriVertex* corners, int trans,
                    const MEMIMG* blend);

// Guard-bit saturating add and subtract of whole pixels; d is the destination pixel.
constexpr std::uint32_t PackedAdd16(std::uint32_t d, std::uint32_t s) {
  const std::uint32_t sum = (d & 0xF7DF) + (s & 0xF7DF);
  const std::uint32_t k = sum & 0x10820;
  return ((k - (k >> 5)) | ((d | s) & 0x0820) | sum) & 0xFFFF;
}
constexpr std::uint32_t PackedSub16(std::uint32_t d, std::uint32_t s) {
  const std::uint32_t t = (d | 0x10820) - (s & 0xF7DF);
  const std::uint32_t k = t & 0x10820;
  return ((k - (k >> 5)) & t) & 0xFFFF;
}
constexpr std::uint32_t PackedAdd32(std::uint32_t d, std::uint32_t s) {
  const std::uint32_t sum = (d & 0x00FEFEFF) + (s & 0x00FEFEFF);
  const std::uint32_t k = sum & 0x01010100;
  return (k - (k >> 8)) | ((d | s) & 0x00010100) | sum;
}
constexpr std::uint32_t PackedSub32(std::uint32_t d, std::uint32_t s) {
  const std::uint32_t t = (d | 0x01010100) - (s & 0xFEFEFEFF);
  const std::uint32_t k = t & 0x01010100;
  return (k - (k >> 8)) & t;
}

}  // namespace gamelib
