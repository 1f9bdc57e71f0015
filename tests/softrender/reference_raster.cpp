// The rasteriser's rules written out per pixel, with ordinary branches and 64-bit
// arithmetic, floor and truncating divisions spelled out.
#include "reference_raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "gamelib/graphics.h"

namespace gamelib::reference {
namespace {

using i64 = std::int64_t;
using u32 = std::uint32_t;

i64 T18(i64 v) { return v / 262144; }  // toward zero, also for negative positions
i64 FloorDiv(i64 a, i64 b) { return a / b - (a % b != 0 && a < 0 ? 1 : 0); }
int Bright(int k, int v) { return v * k / 255; }
int SignedScale(int p, int t) { return t * p / 255; }  // toward zero
// d moved toward t by f / den, rounded down.
int Fade(int d, int t, i64 f, i64 den) { return static_cast<int>(d + FloorDiv((t - d) * f, den)); }

// Channels blue first: the 5-6-5 fields, or bytes 0 to 2.
struct Layout {
  int shift[3];
  int bits[3];
};
constexpr Layout k565{{0, 5, 11}, {5, 6, 5}};
constexpr Layout k888{{0, 8, 16}, {8, 8, 8}};
int Channel(u32 p, const Layout& l, int k) {
  return static_cast<int>((p >> l.shift[k]) & ((1u << l.bits[k]) - 1));
}

// Saturating add or subtract, channel by channel. Add: the lowest channel adds exactly,
// the others add their upper bits, OR in their low bits and the carry from below; 32-bit
// byte 3 becomes red's carry. Subtract: the low bit of an upper channel says the one
// below did not borrow (16-bit green: always 0); 32-bit byte 3 becomes 0.
u32 Packed(bool add, u32 d, u32 s, bool wide) {
  const Layout& l = wide ? k888 : k565;
  u32 out = 0;
  bool carry = false;  // or borrow
  for (int k = 0; k < 3; ++k) {
    const int dk = Channel(d, l, k), sk = Channel(s, l, k), max = (1 << l.bits[k]) - 1;
    const int dh = dk >> 1, sh = sk >> 1, low = add ? ((dk | sk) & 1) | carry : !carry && (wide || k == 2);
    int r;
    if (k == 0) {
      r = add ? std::min(dk + sk, max) : std::max(dk - sk, 0);
      carry = add ? dk + sk > max : dk < sk;
    } else if (add) {
      r = dh + sh <= max >> 1 ? (dh + sh) << 1 | low : (wide || k == 2) ? max : (max - 1) | low;
      carry = dh + sh > max >> 1;
    } else {
      r = dh < sh ? 0 : (dh - sh) << 1 | low;
      carry = dh < sh;
    }
    out |= static_cast<u32>(r) << l.shift[k];
  }
  return wide && add && carry ? out | 0x01000000u : out;
}

// One source colour c over destination pixel d. Weights: w from the blend image when
// blend, a when useAlpha; em is the mode whose formulas apply.
u32 Combine(bool wide, u32 d, u32 c, int a, bool useAlpha, bool blend, int w, int em, int p, bool white,
            const int bright[3]) {
  i64 f = 1;  // the product of the weights other than p, and their count
  int m = 0;
  if (blend) f *= w, ++m;
  if (useAlpha) f *= a, ++m;
  if (em == 0 && white && m == 0) return wide ? c : c & 0xFFFF;  // the whole texel
  const Layout& l = wide ? k888 : k565;
  u32 out = 0;  // modes 2 and 3: what is added or subtracted
  for (int k = 0; k < 3; ++k) {
    const int n = l.bits[k], max = (1 << n) - 1, dk = Channel(d, l, k), ck = Channel(c, l, k);
    auto bx = [&](int v) { return white ? v : Bright(bright[k], v); };
    const int x = bx(ck);
    int r;
    if ((em == 2 || em == 3) && wide) {
      r = m == 0 ? Bright(p, x) : static_cast<int>((x * f * p) >> (8 * (m + 1)));
    } else if (em == 2 || em == 3) {
      r = Bright(p, useAlpha && !blend
                        ? bx((ck * a) >> 8)
                        : static_cast<int>((x * f) >> (8 * m)));  // alpha alone: before brightness
    } else if (em == 4) {
      r = static_cast<int>((x * f * dk) >> (n + 8 * m));
    } else {  // 0, 1, 10, 11: d moves toward t
      const int t = em == 10 ? bx(max - ck) : em == 11 ? (x * dk) >> n : x;
      const int factors = m + (em != 0 ? 1 : 0);
      if (factors == 0) {
        r = t;
      } else if (!wide && em != 0 && m == 0) {
        r = dk + SignedScale(p, t - dk);  // 16-bit, p alone: p / 255
      } else {
        r = Fade(dk, t, em != 0 ? f * p : f, i64{1} << (8 * factors));
      }
    }
    out |= static_cast<u32>(r) << l.shift[k];
  }
  if (em == 2 || em == 3) return Packed(em == 2, d, out, wide);
  return wide ? out | (d & 0xFF000000u) : out;
}

u32 Load(const std::uint8_t* p, int bytes) {
  u32 v = 0;
  std::memcpy(&v, p, bytes);
  return v;
}

// One side of the walk: a segment's X at its first row, its step and rows.
struct Segment {
  i64 x = 0, step = 0, rows = 0;
};
Segment MakeSegment(i64 fromX, i64 fromY, i64 toX, i64 toY) {
  const i64 rows = T18(toY - fromY);  // never 0 once det is not
  return {fromX, (toX - fromX) / rows, rows};
}
// X of a side at walk step j.
i64 SideX(const Segment* s, int segments, i64 j) {
  return segments == 2 && j >= s[0].rows ? s[1].x + (j - s[0].rows) * s[1].step : s[0].x + j * s[0].step;
}

std::int32_t ToInt32(double v) {
  return v > -2147483649.0 && v < 2147483648.0 ? static_cast<std::int32_t>(v) : INT32_MIN;
}

}  // namespace

void ReferenceTriangle(const MEMIMG& dest, const MEMIMG* src, const TriVertex v[3], int trans,
                       const MEMIMG* blend, u32 colour, const RefState& st, RefStats* stats) {
  // Refusals.
  const MemImgSharedRecord* dr = dest.shared;
  if (v == nullptr || dr == nullptr || dest.pixels == nullptr || dr->paletteFlag || dr->alphaFlag) return;
  if (dr->kind != 0 && dr->kind != 1) return;
  const bool wide = dr->kind == 1;
  const int destBytes = wide ? 4 : 2;
  if (dest.width < 1 || dest.height < 1 || dr->pitch < dest.width * destBytes) return;
  auto inRange = [](int c) { return c >= -8192 && c <= 8191; };
  for (int i = 0; i < 3; ++i) {
    if (!inRange(v[i].x) || !inRange(v[i].y)) return;
    if (src != nullptr && (!inRange(v[i].u) || !inRange(v[i].v))) return;
  }
  const MemImgSharedRecord* sr = src != nullptr ? src->shared : nullptr;
  int srcBytes = 0;
  if (src != nullptr) {
    if (sr == nullptr || src->pixels == nullptr || sr->kind != dr->kind) return;
    if (src->width < 1 || src->height < 1 || src->width > 8192 || src->height > 8192) return;
    srcBytes = sr->paletteFlag ? 1 : (wide || sr->alphaFlag) ? 4 : 2;
    if (sr->pitch < src->width * srcBytes || (sr->paletteFlag && sr->palette == nullptr)) return;
    if (blend != nullptr && (blend->shared == nullptr || blend->pixels == nullptr || blend->width < 1 ||
                             blend->height < 1 || blend->shared->pitch < blend->width)) {
      return;
    }
  } else {
    blend = nullptr;
  }
  const bool palette = sr != nullptr && sr->paletteFlag;
  const bool alpha = sr != nullptr && !palette && sr->alphaFlag;
  const int p = std::clamp(st.param, 0, 255), mode = st.mode;
  if (!(mode >= 0 && mode <= 4) && mode != 10 && mode != 11) return;
  if ((mode == 1 || mode == 2 || (mode == 3 && !palette)) && p == 0) return;
  const int em = mode == 1 && p == 255 ? 0 : mode;
  const bool white = st.bright[0] == 255 && st.bright[1] == 255 && st.bright[2] == 255;

  // Set-up: converted vertices, the orders by X and by Y, gradients from the leftmost.
  i64 X[3], Y[3], U[3], V[3];
  for (int i = 0; i < 3; ++i) {
    X[i] = i64{v[i].x} * 262144 + 131072;
    Y[i] = i64{v[i].y} * 262144 + 131072;
    U[i] = i64{v[i].u} * 262144;
    V[i] = i64{v[i].v} * 262144;
  }
  int A[3] = {0, 1, 2}, B[3] = {0, 1, 2};
  for (auto [i, j] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}}) {
    if (X[A[i]] > X[A[j]]) std::swap(A[i], A[j]);
    if (Y[B[i]] > Y[B[j]]) std::swap(B[i], B[j]);
  }
  i64 dx[3], dy[3], du[3], dv[3];
  for (int k = 1; k <= 2; ++k) {
    dx[k] = T18(X[A[k]] - X[A[0]]);
    dy[k] = T18(Y[A[k]] - Y[A[0]]);
    du[k] = T18(U[A[k]] - U[A[0]]);
    dv[k] = T18(V[A[k]] - V[A[0]]);
  }
  const i64 det = dx[2] * dy[1] - dx[1] * dy[2];
  if (det == 0) return;
  const double dd = static_cast<double>(det);
  const i64 dUdx = ToInt32(static_cast<double>(dy[1] * du[2] - dy[2] * du[1]) * 262144.0 / dd);
  const i64 dUdy = ToInt32(static_cast<double>(du[1] * dx[2] - dx[1] * du[2]) * 262144.0 / dd);
  const i64 dVdx = ToInt32(static_cast<double>(dy[1] * dv[2] - dv[1] * dy[2]) * 262144.0 / dd);
  const i64 dVdy = ToInt32(static_cast<double>(dv[1] * dx[2] - dv[2] * dx[1]) * 262144.0 / dd);
  const i64 x0 = T18(X[A[0]]), y0 = T18(Y[A[0]]);

  // Edges: one or two segments per side; a right second segment starts one unit right.
  Segment L[2], R[2];
  int nL = 1, nR = 1;
  const int b0 = B[0], b1 = B[1], b2 = B[2];
  if (Y[b0] == Y[b1]) {
    const int lt = X[b0] > X[b1] ? b1 : b0, rt = X[b0] > X[b1] ? b0 : b1;
    L[0] = MakeSegment(X[lt], Y[lt], X[b2], Y[b2]);
    R[0] = MakeSegment(X[rt], Y[rt], X[b2], Y[b2]);
  } else if (Y[b1] == Y[b2]) {
    const int lb = X[b1] <= X[b2] ? b1 : b2, rb = X[b1] <= X[b2] ? b2 : b1;
    L[0] = MakeSegment(X[b0], Y[b0], X[lb], Y[lb]);
    R[0] = MakeSegment(X[b0], Y[b0], X[rb], Y[rb]);
  } else {
    auto slope = [&](int to) { return double(X[to] - X[b0]) / (double(Y[to] - Y[b0]) / 262144); };
    const bool middleLeft = slope(b2) > slope(b1);
    (middleLeft ? nL : nR) = 2;
    L[0] = MakeSegment(X[b0], Y[b0], X[middleLeft ? b1 : b2], Y[middleLeft ? b1 : b2]);
    R[0] = MakeSegment(X[b0], Y[b0], X[middleLeft ? b2 : b1], Y[middleLeft ? b2 : b1]);
    (middleLeft ? L[1] : R[1]) = MakeSegment(X[b1] + (middleLeft ? 0 : 1), Y[b1], X[b2], Y[b2]);
  }
  // Walk step j covers row top + j; a left second segment restarts at its own row.
  const i64 firstRow[2] = {T18(Y[b0]), T18(Y[b1])};
  const i64 firstStep[2] = {0, L[0].rows};

  u32 flat = 0;  // the flat colour after brightness
  const Layout& l = wide ? k888 : k565;
  const u32 c = wide ? colour : colour & 0xFFFF;
  for (int k = 0; k < 3; ++k) flat |= static_cast<u32>(Bright(st.bright[k], Channel(c, l, k))) << l.shift[k];
  if (wide) flat |= colour & 0xFF000000u;
  const u32 limU = src ? static_cast<u32>(std::min(src->width, blend ? blend->width : 8192)) << 18 : 0;
  const u32 limV = src ? static_cast<u32>(std::min(src->height, blend ? blend->height : 8192)) << 18 : 0;

  const int left = std::max(st.left, 0), right = std::min(st.right, dest.width);
  const int top = std::max(st.top, 0), bottom = std::min(st.bottom, dest.height);
  for (int y = top; y < bottom; ++y) {
    i64 spanFrom[2] = {1, 1}, spanTo[2] = {0, 0};  // empty
    for (int s = 0; s < nL; ++s) {
      const i64 j = firstStep[s] + (y - firstRow[s]);
      if (j < firstStep[s] || j >= firstStep[s] + L[s].rows) continue;
      spanFrom[s] = T18(SideX(L, nL, j));
      spanTo[s] = T18(SideX(R, nR, j));
    }
    for (int x = left; x < right; ++x) {
      const int times = (spanFrom[0] <= x && x <= spanTo[0]) + (spanFrom[1] <= x && x <= spanTo[1]);
      std::uint8_t* dp = dest.pixels + static_cast<std::ptrdiff_t>(y) * dr->pitch + x * destBytes;
      for (int pass = 0; pass < times; ++pass) {  // a pixel some rows reach twice
        const u32 d = Load(dp, destBytes);
        u32 out;
        if (src == nullptr) {
          out = Combine(wide, d, flat, 0, false, false, 0, em, p, true, st.bright);
        } else {
          const u32 u = static_cast<u32>(U[A[0]] + (x - x0) * dUdx + (y - y0) * dUdy);
          const u32 vv = static_cast<u32>(V[A[0]] + (x - x0) * dVdx + (y - y0) * dVdy);
          if (u >= limU || vv >= limV) break;
          const i64 tu = u >> 18, tv = vv >> 18;
          const std::uint8_t* tp = src->pixels + tv * sr->pitch + tu * srcBytes;
          const int w = blend ? st.border[blend->pixels[tv * blend->shared->pitch + tu]] : 0;
          u32 texel = Load(tp, srcBytes), col = texel;
          int a = 0;
          bool useAlpha = false, skip = false;
          if (palette) {
            skip = trans && texel == sr->colorKey;
            col = wide ? static_cast<const u32*>(sr->palette)[texel]
                       : static_cast<const std::uint16_t*>(sr->palette)[texel];
          } else if (!alpha) {
            skip = trans && texel == sr->colorKey;
          } else {
            a = static_cast<int>(wide ? texel >> 24 : (texel >> 16) & 255);
            col = wide ? texel : texel & 0xFFFF;
            skip = trans && a == 0 && (em <= 3 || (!wide && em == 10));
            useAlpha = !trans || a != 255;
          }
          if (skip) {
            ++stats->skipped;
            break;
          }
          out = Combine(wide, d, col, a, useAlpha, blend != nullptr, w, em, p, white, st.bright);
        }
        ++stats->pixels;
        std::memcpy(dp, &out, destBytes);
      }
    }
  }
}

RefState DrawStateNow(const std::uint8_t* border) {
  RefState s;
  GetDrawBlendMode(&s.mode, &s.param);
  GetDrawBrightness(&s.bright[2], &s.bright[1], &s.bright[0]);
  GetDrawArea(&s.left, &s.top, &s.right, &s.bottom);
  s.border = border;
  return s;
}

const std::vector<TriangleKernelSet>& KernelSetsToTest() {
  static const std::vector<TriangleKernelSet> sets = [] {
    std::vector<TriangleKernelSet> s{TriangleKernelSet::Portable};
    if (SetTriangleKernelSet(TriangleKernelSet::Avx2) == 0) s.push_back(TriangleKernelSet::Avx2);
#if defined(__x86_64__)
    EXPECT_EQ(s.size() == 2, __builtin_cpu_supports("avx2") != 0)
        << "AVX2 kernels where the processor has AVX2";
#endif
    SetTriangleKernelSet(GetBestTriangleKernelSet());
    return s;
  }();
  return sets;
}

}  // namespace gamelib::reference
