#include <cmath>
#include <cstdint>

#include "softrender/triangle.h"

namespace gamelib {

namespace {

// A gradient out of its double: truncated toward zero; NaN or a value outside 32 bits
// gives INT32_MIN, as the processor's own conversion does, instead of undefined behaviour.
Fixed18 GradientToFixed18(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<Fixed18>(value);
}

// Orders two vertex indices by key. Only a strictly greater key swaps, so equal keys keep
// vertex order. Selects rather than branches: a triangle's vertex order is not predictable.
inline __attribute__((always_inline)) void OrderPair(int& first, int& second, const int (&key)[3]) {
  const int a = first;
  const int b = second;
  const bool swap = key[a] > key[b];
  first = swap ? b : a;
  second = swap ? a : b;
}

inline __attribute__((always_inline)) void SortByKey(int (&order)[3], const int (&key)[3]) {
  OrderPair(order[0], order[1], key);
  OrderPair(order[0], order[2], key);
  OrderPair(order[1], order[2], key);
}

// (toX - fromX) / rows truncated, in 32 bits when the difference fits (rows < 2^14).
std::int64_t EdgeStep(std::int64_t difference, std::int64_t rows) {
  if (difference == static_cast<std::int32_t>(difference)) {
    return static_cast<std::int32_t>(difference) / static_cast<std::int32_t>(rows);
  }
  return difference / rows;
}

// Two IEEE divisions in one instruction where the processor has one; each lane rounds
// exactly as a scalar division does.
using Double2 = double __attribute__((vector_size(16)));

// A vertex position as Fixed18, at the pixel's centre.
std::int64_t Centre(int pixel) { return static_cast<std::int64_t>(pixel) * kFixed18One + kFixed18Half; }

// An edge of rows rows (rows > 0) from fromX, whose end lies toX - fromX further right.
void MakeSingleSegment(TriEdge& edge, std::int64_t fromX, std::int64_t run, int rows) {
  edge = TriEdge{};
  edge.x = fromX;
  edge.step = EdgeStep(run, rows);
  edge.rowsLeft = rows;
  edge.segment = 0;
  edge.lastSegment = 0;
}

void AddSecondSegment(TriEdge& edge, std::int64_t fromX, std::int64_t fromY, std::int64_t run, int rows) {
  edge.lastSegment = 1;
  edge.nextX = fromX;
  edge.nextY = fromY;
  edge.nextStep = EdgeStep(run, rows);
  edge.nextRows = rows;
}

}  // namespace

int SetUpTriangle(TriangleSetup* setup, const TriVertex* vertices) {
  if (setup == nullptr || vertices == nullptr) return -1;
  // Every position is a whole pixel plus a half (Fixed18), so each difference the set-up
  // truncates is a whole number of pixels: it comes straight from the integers. Texture
  // coordinates are not range-checked here, so theirs are taken in 64 bits.
  int x[3], y[3];
  std::int64_t u[3], v[3];
  for (int i = 0; i < 3; ++i) {
    const TriVertex& p = vertices[i];
    if (p.x < kTriCoordMin || p.x > kTriCoordMax || p.y < kTriCoordMin || p.y > kTriCoordMax) return -1;
    x[i] = p.x;
    y[i] = p.y;
    u[i] = p.u;
    v[i] = p.v;
  }
  int a[3] = {0, 1, 2};
  int b[3] = {0, 1, 2};
  SortByKey(a, x);
  SortByKey(b, y);

  // Gradients, with the leftmost vertex as origin.
  const std::int64_t dx1 = x[a[1]] - x[a[0]];
  const std::int64_t dy1 = y[a[1]] - y[a[0]];
  const std::int64_t du1 = u[a[1]] - u[a[0]];
  const std::int64_t dv1 = v[a[1]] - v[a[0]];
  const std::int64_t dx2 = x[a[2]] - x[a[0]];
  const std::int64_t dy2 = y[a[2]] - y[a[0]];
  const std::int64_t du2 = u[a[2]] - u[a[0]];
  const std::int64_t dv2 = v[a[2]] - v[a[0]];
  const std::int64_t det = dx2 * dy1 - dx1 * dy2;
  if (det == 0) return -1;
  const double ddet = static_cast<double>(det);
  TriGradients& g = setup->gradients;
  g.x0 = static_cast<int>(TruncFixed18(Centre(x[a[0]])));
  g.y0 = static_cast<int>(TruncFixed18(Centre(y[a[0]])));
  // The low 32 bits of u * 2^18.
  g.u0 = static_cast<Fixed18>(static_cast<std::uint32_t>(u[a[0]]) << kFixed18Shift);
  g.v0 = static_cast<Fixed18>(static_cast<std::uint32_t>(v[a[0]]) << kFixed18Shift);
  const Double2 dets = {ddet, ddet};
  const Double2 du = Double2{static_cast<double>(dy1 * du2 - dy2 * du1) * 262144.0,
                             static_cast<double>(du1 * dx2 - dx1 * du2) * 262144.0} /
                     dets;
  const Double2 dv = Double2{static_cast<double>(dy1 * dv2 - dv1 * dy2) * 262144.0,
                             static_cast<double>(dv1 * dx2 - dv2 * dx1) * 262144.0} /
                     dets;
  g.dudx = GradientToFixed18(du[0]);
  g.dudy = GradientToFixed18(du[1]);
  g.dvdx = GradientToFixed18(dv[0]);
  g.dvdy = GradientToFixed18(dv[1]);

  // Edges. X runs are whole pixels in Fixed18; rows are whole pixels.
  const int b0 = b[0], b1 = b[1], b2 = b[2];
  const auto run = [&](int from, int to) { return static_cast<std::int64_t>(x[to] - x[from]) * kFixed18One; };
  TriEdge& left = setup->left;
  TriEdge& right = setup->right;
  int top;
  // Collinear vertices ended at det = 0, so every segment made below has rows.
  if (y[b0] == y[b1]) {
    // Flat top.
    const int leftTop = x[b0] > x[b1] ? b1 : b0;
    const int rightTop = x[b0] > x[b1] ? b0 : b1;
    const int rows = y[b2] - y[b0];
    MakeSingleSegment(left, Centre(x[leftTop]), run(leftTop, b2), rows);
    MakeSingleSegment(right, Centre(x[rightTop]), run(rightTop, b2), rows);
    top = y[leftTop];
  } else if (y[b1] == y[b2]) {
    // Flat bottom.
    const int leftBottom = x[b1] <= x[b2] ? b1 : b2;
    const int rightBottom = x[b1] <= x[b2] ? b2 : b1;
    const int rows = y[b1] - y[b0];
    MakeSingleSegment(left, Centre(x[b0]), run(b0, leftBottom), rows);
    MakeSingleSegment(right, Centre(x[b0]), run(b0, rightBottom), rows);
    top = y[b0];
  } else {
    const int longRows = y[b2] - y[b0];
    const int upperRows = y[b1] - y[b0];
    const int lowerRows = y[b2] - y[b1];
    const Double2 slopes = Double2{static_cast<double>(run(b0, b2)), static_cast<double>(run(b0, b1))} /
                           Double2{static_cast<double>(longRows), static_cast<double>(upperRows)};
    // The long side's slope against the middle vertex's.
    if (slopes[0] > slopes[1]) {
      // Middle vertex on the left.
      MakeSingleSegment(left, Centre(x[b0]), run(b0, b1), upperRows);
      AddSecondSegment(left, Centre(x[b1]), Centre(y[b1]), run(b1, b2), lowerRows);
      MakeSingleSegment(right, Centre(x[b0]), run(b0, b2), longRows);
    } else {
      // Middle vertex on the right; its second segment starts one unit right of it.
      MakeSingleSegment(left, Centre(x[b0]), run(b0, b2), longRows);
      MakeSingleSegment(right, Centre(x[b0]), run(b0, b1), upperRows);
      AddSecondSegment(right, Centre(x[b1]) + 1, Centre(y[b1]), run(b1, b2) - 1, lowerRows);
    }
    top = y[b0];
  }
  setup->topRow = static_cast<int>(TruncFixed18(Centre(top)));
  setup->minX = x[a[0]];
  setup->maxX = x[a[2]];
  setup->minY = y[b0];
  setup->maxY = y[b2];
  return 0;
}

}  // namespace gamelib
