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
inline __attribute__((always_inline)) void OrderPair(int& first, int& second, const std::int64_t (&key)[3]) {
  const int a = first;
  const int b = second;
  const bool swap = key[a] > key[b];
  first = swap ? b : a;
  second = swap ? a : b;
}

inline __attribute__((always_inline)) void SortByKey(int (&order)[3], const std::int64_t (&key)[3]) {
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

bool MakeSingleSegment(TriEdge& edge, std::int64_t fromX, std::int64_t fromY, std::int64_t toX,
                       std::int64_t toY) {
  const std::int64_t rows = TruncFixed18(toY - fromY);
  if (rows == 0) return false;
  edge = TriEdge{};
  edge.x = fromX;
  edge.step = EdgeStep(toX - fromX, rows);
  edge.rowsLeft = static_cast<int>(rows);
  edge.segment = 0;
  edge.lastSegment = 0;
  return true;
}

bool AddSecondSegment(TriEdge& edge, std::int64_t fromX, std::int64_t fromY, std::int64_t toX,
                      std::int64_t toY) {
  const std::int64_t rows = TruncFixed18(toY - fromY);
  if (rows == 0) return false;
  edge.lastSegment = 1;
  edge.nextX = fromX;
  edge.nextY = fromY;
  edge.nextStep = EdgeStep(toX - fromX, rows);
  edge.nextRows = static_cast<int>(rows);
  return true;
}

}  // namespace

int SetUpTriangle(TriangleSetup* setup, const TriVertex* vertices) {
  if (setup == nullptr || vertices == nullptr) return -1;
  // Positions in 64 bits: differences of in-range coordinates overflow 32 bits.
  std::int64_t X[3], Y[3], U[3], V[3];
  for (int i = 0; i < 3; ++i) {
    const TriVertex& p = vertices[i];
    if (p.x < kTriCoordMin || p.x > kTriCoordMax || p.y < kTriCoordMin || p.y > kTriCoordMax) return -1;
    X[i] = static_cast<std::int64_t>(p.x) * kFixed18One + kFixed18Half;
    Y[i] = static_cast<std::int64_t>(p.y) * kFixed18One + kFixed18Half;
    U[i] = static_cast<std::int64_t>(p.u) * kFixed18One;
    V[i] = static_cast<std::int64_t>(p.v) * kFixed18One;
  }
  int a[3] = {0, 1, 2};
  int b[3] = {0, 1, 2};
  SortByKey(a, X);
  SortByKey(b, Y);

  // Gradients, with the leftmost vertex as origin.
  const std::int64_t dx1 = TruncFixed18(X[a[1]] - X[a[0]]);
  const std::int64_t dy1 = TruncFixed18(Y[a[1]] - Y[a[0]]);
  const std::int64_t du1 = TruncFixed18(U[a[1]] - U[a[0]]);
  const std::int64_t dv1 = TruncFixed18(V[a[1]] - V[a[0]]);
  const std::int64_t dx2 = TruncFixed18(X[a[2]] - X[a[0]]);
  const std::int64_t dy2 = TruncFixed18(Y[a[2]] - Y[a[0]]);
  const std::int64_t du2 = TruncFixed18(U[a[2]] - U[a[0]]);
  const std::int64_t dv2 = TruncFixed18(V[a[2]] - V[a[0]]);
  const std::int64_t det = dx2 * dy1 - dx1 * dy2;
  if (det == 0) return -1;
  const double ddet = static_cast<double>(det);
  TriGradients& g = setup->gradients;
  g.x0 = static_cast<int>(TruncFixed18(X[a[0]]));
  g.y0 = static_cast<int>(TruncFixed18(Y[a[0]]));
  g.u0 = static_cast<Fixed18>(static_cast<std::uint32_t>(U[a[0]]));
  g.v0 = static_cast<Fixed18>(static_cast<std::uint32_t>(V[a[0]]));
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

  // Edges.
  const int b0 = b[0], b1 = b[1], b2 = b[2];
  TriEdge& left = setup->left;
  TriEdge& right = setup->right;
  std::int64_t topY;
  if (Y[b0] == Y[b1]) {
    // Flat top.
    const int leftTop = X[b0] > X[b1] ? b1 : b0;
    const int rightTop = X[b0] > X[b1] ? b0 : b1;
    if (!MakeSingleSegment(left, X[leftTop], Y[leftTop], X[b2], Y[b2])) return -1;
    if (!MakeSingleSegment(right, X[rightTop], Y[rightTop], X[b2], Y[b2])) return -1;
    topY = Y[leftTop];
  } else if (Y[b1] == Y[b2]) {
    // Flat bottom.
    const int leftBottom = X[b1] <= X[b2] ? b1 : b2;
    const int rightBottom = X[b1] <= X[b2] ? b2 : b1;
    if (!MakeSingleSegment(left, X[b0], Y[b0], X[leftBottom], Y[leftBottom])) return -1;
    if (!MakeSingleSegment(right, X[b0], Y[b0], X[rightBottom], Y[rightBottom])) return -1;
    topY = Y[b0];
  } else {
    const Double2 slopes = Double2{static_cast<double>(X[b2] - X[b0]), static_cast<double>(X[b1] - X[b0])} /
                           Double2{static_cast<double>(Y[b2] - Y[b0]) * (1.0 / 262144.0),
                                   static_cast<double>(Y[b1] - Y[b0]) * (1.0 / 262144.0)};
    // The long side's slope against the middle vertex's.
    if (slopes[0] > slopes[1]) {
      // Middle vertex on the left.
      if (!MakeSingleSegment(left, X[b0], Y[b0], X[b1], Y[b1])) return -1;
      if (!AddSecondSegment(left, X[b1], Y[b1], X[b2], Y[b2])) return -1;
      if (!MakeSingleSegment(right, X[b0], Y[b0], X[b2], Y[b2])) return -1;
    } else {
      // Middle vertex on the right; its second segment starts one unit right of it.
      if (!MakeSingleSegment(left, X[b0], Y[b0], X[b2], Y[b2])) return -1;
      if (!MakeSingleSegment(right, X[b0], Y[b0], X[b1], Y[b1])) return -1;
      if (!AddSecondSegment(right, X[b1] + 1, Y[b1], X[b2], Y[b2])) return -1;
    }
    topY = Y[b0];
  }
  setup->topRow = static_cast<int>(TruncFixed18(topY));
  setup->minX = static_cast<int>(X[a[0]] >> kFixed18Shift);
  setup->maxX = static_cast<int>(X[a[2]] >> kFixed18Shift);
  setup->minY = static_cast<int>(Y[b0] >> kFixed18Shift);
  setup->maxY = static_cast<int>(Y[b2] >> kFixed18Shift);
  return 0;
}

}  // namespace gamelib
