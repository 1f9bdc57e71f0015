// Plain per-pixel model of the triangle rasteriser. Written from the formulas,
// channel by channel, with floor divisions spelled out, so that the kernels'
// shift-and-mask forms are checked rather than repeated.
#include "reference_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace gamelib::reference {
namespace {

using i64 = std::int64_t;
using u32 = std::uint32_t;

constexpr i64 kOne = 262144;   // 1.0 in 18 fraction bits
constexpr i64 kHalf = 131072;  // half a pixel

// Fixed-point to index, rounding toward zero (not toward minus infinity).
i64 T18(i64 v) { return v / kOne; }

i64 FloorDiv(i64 a, i64 b) {
  i64 q = a / b;
  if ((a % b != 0) && (a < 0)) q -= 1;
  return q;
}

// trunc(v * k / 255), what a brightness-table row gives.
int Bright(int k, int v) { return v * k / 255; }
// trunc(t * p / 255) toward zero, what a signed-scale row gives.
int SignedScale(int p, int t) { return t * p / 255; }

// Moves d toward t by k / den, rounding toward minus infinity.
int Fade(int d, int t, i64 k, i64 den) { return static_cast<int>(d + FloorDiv((t - d) * k, den)); }

struct Fields16 {
  int c[3];  // red, green, blue field values
};
constexpr int kWidth16[3] = {5, 6, 5};

Fields16 Split16(u32 p) { return {{int((p >> 11) & 31), int((p >> 5) & 63), int(p & 31)}}; }
u32 Join16(const int f[3]) { return (u32(f[0]) << 11) | (u32(f[1]) << 5) | u32(f[2]); }

// Bytes 0..2 of a 32-bit pixel, blue first.
void Split32(u32 p, int b[3]) {
  for (int k = 0; k < 3; ++k) b[k] = int((p >> (8 * k)) & 255);
}
u32 Join32(const int b[3], u32 top) {
  return u32(b[0]) | (u32(b[1]) << 8) | (u32(b[2]) << 16) | (top & 0xFF000000u);
}

// Whether the stored 16-bit mode-3 style guards hold: described per channel.
u32 Add16Channels(u32 d, u32 s) {
  Fields16 df = Split16(d), sf = Split16(s);
  int dR = df.c[0], dG = df.c[1], dB = df.c[2];
  int sR = sf.c[0], sG = sf.c[1], sB = sf.c[2];
  int b = dB + sB;
  bool carryB = b >= 32;
  if (carryB) b = 31;
  int g;
  bool carryG;
  int gu = (dG >> 1) + (sG >> 1);
  if (gu >= 32) {
    g = 62 | ((dG | sG) & 1) | (carryB ? 1 : 0);
    carryG = true;
  } else {
    g = (gu << 1) | ((dG | sG) & 1) | (carryB ? 1 : 0);
    carryG = false;
  }
  int r;
  int ru = (dR >> 1) + (sR >> 1);
  if (ru >= 16) {
    r = 31;
  } else {
    r = (ru << 1) | ((dR | sR) & 1) | (carryG ? 1 : 0);
  }
  const int f[3] = {r, g, b};
  return Join16(f);
}

u32 Sub16Channels(u32 d, u32 s) {
  Fields16 df = Split16(d), sf = Split16(s);
  int dR = df.c[0], dG = df.c[1], dB = df.c[2];
  int sR = sf.c[0], sG = sf.c[1], sB = sf.c[2];
  int b = std::max(dB - sB, 0);
  bool borrowG = (dG >> 1) < (sG >> 1);
  int g = borrowG ? 0 : (((dG >> 1) - (sG >> 1)) << 1);
  int r = (dR >> 1) < (sR >> 1) ? 0 : ((((dR >> 1) - (sR >> 1)) << 1) | (borrowG ? 0 : 1));
  const int f[3] = {r, g, b};
  return Join16(f);
}

u32 Add32Channels(u32 d, u32 s) {
  int db[3], sb[3], out[3];
  Split32(d, db);
  Split32(s, sb);
  bool carry = false;
  int sum = db[0] + sb[0];
  carry = sum > 255;
  out[0] = std::min(sum, 255);
  for (int k = 1; k < 3; ++k) {
    int upper = (sb[k] >> 1) + (db[k] >> 1);
    if (upper >= 128) {
      out[k] = 255;
      carry = true;
    } else {
      out[k] = (upper << 1) | ((db[k] | sb[k]) & 1) | (carry ? 1 : 0);
      carry = false;
    }
  }
  return u32(out[0]) | (u32(out[1]) << 8) | (u32(out[2]) << 16) | (carry ? 0x01000000u : 0u);
}

u32 Sub32Channels(u32 d, u32 s) {
  int db[3], sb[3], out[3];
  Split32(d, db);
  Split32(s, sb);
  bool borrow = db[0] < sb[0];
  out[0] = borrow ? 0 : db[0] - sb[0];
  for (int k = 1; k < 3; ++k) {
    if ((db[k] >> 1) < (sb[k] >> 1)) {
      out[k] = 0;
      borrow = true;
    } else {
      out[k] = (((db[k] >> 1) - (sb[k] >> 1)) << 1) | (borrow ? 0 : 1);
      borrow = false;
    }
  }
  return u32(out[0]) | (u32(out[1]) << 8) | (u32(out[2]) << 16);
}

u32 Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
u32 Load32(const std::uint8_t* p) {
  u32 v;
  std::memcpy(&v, p, 4);
  return v;
}
void Store16(std::uint8_t* p, u32 v) {
  std::uint16_t w = std::uint16_t(v);
  std::memcpy(p, &w, 2);
}
void Store32(std::uint8_t* p, u32 v) { std::memcpy(p, &v, 4); }

// Double to a 32-bit integer toward zero; what cannot be represented becomes
// the integer "indefinite" value, as the x86 conversion gives.
std::int32_t DoubleToInt32(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

struct Segment {
  i64 startX, startY, step, rows;
};

}  // namespace

u32 RefPackedAdd16(u32 d, u32 s) { return Add16Channels(d & 0xFFFF, s & 0xFFFF); }
u32 RefPackedSub16(u32 d, u32 s) { return Sub16Channels(d & 0xFFFF, s & 0xFFFF); }
u32 RefPackedAdd32(u32 d, u32 s) { return Add32Channels(d, s); }
u32 RefPackedSub32(u32 d, u32 s) { return Sub32Channels(d, s); }

bool RefBorderTable(int param, int range, std::uint8_t out[256]) {
  param = std::clamp(param, 0, 255);
  range = std::clamp(range, 0, 255);
  i64 q = 256 - ((65536 / (range + 1) + 256) * param) / 256;
  if (q <= 0) return false;
  for (int i = 0; i < 256; ++i) out[i] = std::uint8_t(std::min<i64>(255, (i * 256) / (range + 1) + q));
  return true;
}

void ReferenceDrawTriangle(const RefImage& dest, const RefImage* src, const RefVertex vertices[3], int trans,
                           const RefImage* blend, u32 colour, const RefState& state, RefStats* stats) {
  RefStats local;
  RefStats& st = stats != nullptr ? *stats : local;
  // ---- Refusals.
  if (vertices == nullptr || dest.pixels == nullptr) return;
  if (dest.palette || dest.alpha) return;
  if (dest.kind != 0 && dest.kind != 1) return;
  const int destBpp = dest.kind == 0 ? 2 : 4;
  if (dest.width <= 0 || dest.height <= 0 || dest.pitch < dest.width * destBpp) return;
  for (int i = 0; i < 3; ++i) {
    const RefVertex& v = vertices[i];
    if (v.x < -8192 || v.x > 8191 || v.y < -8192 || v.y > 8191) return;
    if (src != nullptr && (v.u < -8192 || v.u > 8191 || v.v < -8192 || v.v > 8191)) return;
  }
  int srcBpp = 0;
  if (src != nullptr) {
    if (src->kind != dest.kind) return;
    if (src->pixels == nullptr) return;
    if (src->width <= 0 || src->height <= 0 || src->width > 8192 || src->height > 8192) return;
    srcBpp = src->palette ? 1 : (src->kind == 1 || src->alpha) ? 4 : 2;
    if (src->pitch < src->width * srcBpp) return;
    if (src->palette && src->paletteTable == nullptr) return;
    if (blend != nullptr) {
      if (blend->pixels == nullptr || blend->width <= 0 || blend->height <= 0 ||
          blend->pitch < blend->width || state.borderTable == nullptr)
        return;
    }
  } else {
    blend = nullptr;
  }

  // ---- Draw state, read once.
  const int p = std::clamp(state.blendParam, 0, 255);
  const int mode = state.blendMode;
  const int br = std::clamp(state.brightRed, 0, 255);
  const int bg = std::clamp(state.brightGreen, 0, 255);
  const int bb = std::clamp(state.brightBlue, 0, 255);
  const bool white = br == 255 && bg == 255 && bb == 255;
  const int areaL = std::max(state.areaLeft, 0);
  const int areaT = std::max(state.areaTop, 0);
  const int areaR = std::min(state.areaRight, dest.width);
  const int areaB = std::min(state.areaBottom, dest.height);

  // ---- Which modes draw at all.
  const bool paletteSrc = src != nullptr && src->palette;
  if (!(mode >= 0 && mode <= 4) && mode != 10 && mode != 11) return;
  if (mode == 1 && p == 0) return;
  if (mode == 2 && p == 0) return;
  if (mode == 3 && p == 0 && !paletteSrc) return;
  const int em = (mode == 1 && p == 255) ? 0 : mode;  // alpha at full strength is the copy

  // ---- Converted vertices and the two orders.
  i64 X[3], Y[3], U[3], V[3];
  for (int i = 0; i < 3; ++i) {
    X[i] = i64(vertices[i].x) * kOne + kHalf;
    Y[i] = i64(vertices[i].y) * kOne + kHalf;
    U[i] = src ? i64(vertices[i].u) * kOne : 0;
    V[i] = src ? i64(vertices[i].v) * kOne : 0;
  }
  int A[3] = {0, 1, 2}, B[3] = {0, 1, 2};
  const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
  for (auto& pr : pairs) {
    if (X[A[pr[0]]] > X[A[pr[1]]]) std::swap(A[pr[0]], A[pr[1]]);
    if (Y[B[pr[0]]] > Y[B[pr[1]]]) std::swap(B[pr[0]], B[pr[1]]);
  }

  // ---- Gradients.
  i64 dx[3], dy[3], du[3], dv[3];
  for (int k = 1; k <= 2; ++k) {
    dx[k] = T18(X[A[k]] - X[A[0]]);
    dy[k] = T18(Y[A[k]] - Y[A[0]]);
    du[k] = T18(U[A[k]] - U[A[0]]);
    dv[k] = T18(V[A[k]] - V[A[0]]);
  }
  const i64 det = dx[2] * dy[1] - dx[1] * dy[2];
  if (det == 0) return;
  const double ddet = double(det);
  const std::int32_t dUdx = DoubleToInt32(double(dy[1] * du[2] - dy[2] * du[1]) * 262144.0 / ddet);
  const std::int32_t dUdy = DoubleToInt32(double(du[1] * dx[2] - dx[1] * du[2]) * 262144.0 / ddet);
  const std::int32_t dVdx = DoubleToInt32(double(dy[1] * dv[2] - dv[1] * dy[2]) * 262144.0 / ddet);
  const std::int32_t dVdy = DoubleToInt32(double(dv[1] * dx[2] - dv[2] * dx[1]) * 262144.0 / ddet);
  const i64 x0 = T18(X[A[0]]), y0 = T18(Y[A[0]]);
  const i64 U0 = U[A[0]], V0 = V[A[0]];

  // ---- Edges.
  auto seg = [&](i64 sx, i64 sy, int q) {
    Segment s;
    s.startX = sx;
    s.startY = sy;
    s.rows = T18(Y[q] - sy);
    s.step = s.rows != 0 ? (X[q] - sx) / s.rows : 0;
    return s;
  };
  Segment L[2], R[2];
  int nL = 1, nR = 1;
  const int b0 = B[0], b1 = B[1], b2 = B[2];
  if (Y[b0] == Y[b1]) {
    int lt = b0, rt = b1;
    if (X[b0] > X[b1]) std::swap(lt, rt);
    L[0] = seg(X[lt], Y[lt], b2);
    R[0] = seg(X[rt], Y[rt], b2);
  } else if (Y[b1] == Y[b2]) {
    int lb = b1, rb = b2;
    if (X[b1] > X[b2]) std::swap(lb, rb);
    L[0] = seg(X[b0], Y[b0], lb);
    R[0] = seg(X[b0], Y[b0], rb);
  } else {
    // Compare the long edge's slope with the middle vertex's exactly
    // (cross-multiplied; both heights are positive here).
    const i64 longDX = X[b2] - X[b0], longDY = T18(Y[b2] - Y[b0]);
    const i64 midDX = X[b1] - X[b0], midDY = T18(Y[b1] - Y[b0]);
    if (longDY == 0 || midDY == 0) return;
    const bool middleLeft = longDX * midDY > midDX * longDY;
    if (middleLeft) {
      L[0] = seg(X[b0], Y[b0], b1);
      L[1] = seg(X[b1], Y[b1], b2);
      nL = 2;
      R[0] = seg(X[b0], Y[b0], b2);
    } else {
      L[0] = seg(X[b0], Y[b0], b2);
      R[0] = seg(X[b0], Y[b0], b1);
      R[1] = seg(X[b1] + 1, Y[b1], b2);
      nR = 2;
    }
  }
  for (int i = 0; i < nL; ++i)
    if (L[i].rows == 0) return;
  for (int i = 0; i < nR; ++i)
    if (R[i].rows == 0) return;

  // ---- Flat colour, prepared once.
  const int brightOf16[3] = {br, bg, bb};  // red, green, blue fields
  const int brightOf32[3] = {bb, bg, br};  // bytes 0, 1, 2
  u32 flat = 0;
  if (src == nullptr) {
    if (dest.kind == 0) {
      Fields16 f = Split16(colour & 0xFFFF);
      for (int k = 0; k < 3; ++k) f.c[k] = Bright(brightOf16[k], f.c[k]);
      flat = Join16(f.c);
    } else {
      int b[3];
      Split32(colour, b);
      for (int k = 0; k < 3; ++k) b[k] = Bright(brightOf32[k], b[k]);
      flat = Join32(b, colour);
    }
  }

  const u32 limU = src ? u32(std::min(src->width, blend ? blend->width : 8192)) << 18 : 0;
  const u32 limV = src ? u32(std::min(src->height, blend ? blend->height : 8192)) << 18 : 0;
  const bool B_ = blend != nullptr;
  const bool A_ = src != nullptr && !src->palette && src->alpha;
  const bool T_ = trans != 0;

  auto put16 = [&](std::uint8_t* p, u32 v) {
    ++st.pixels;
    Store16(p, v);
  };
  auto put32 = [&](std::uint8_t* p, u32 v) {
    ++st.pixels;
    Store32(p, v);
  };

  // ---- One pixel.
  auto drawPixel = [&](i64 x, i64 y) {
    std::uint8_t* dp = dest.pixels + std::ptrdiff_t(y) * dest.pitch + std::ptrdiff_t(x) * destBpp;
    const u32 d = dest.kind == 0 ? Load16(dp) : Load32(dp);
    u32 out = d;

    if (src == nullptr) {
      if (dest.kind == 0) {
        Fields16 df = Split16(d), cf = Split16(flat);
        int r[3];
        switch (em) {
          case 0:
            out = flat;
            break;
          case 1:
            for (int k = 0; k < 3; ++k) r[k] = df.c[k] + SignedScale(p, cf.c[k] - df.c[k]);
            out = Join16(r);
            break;
          case 2:
          case 3: {
            for (int k = 0; k < 3; ++k) r[k] = Bright(p, cf.c[k]);
            const u32 s = Join16(r);
            out = em == 2 ? Add16Channels(d, s) : Sub16Channels(d, s);
            break;
          }
          case 4:
            for (int k = 0; k < 3; ++k) r[k] = (df.c[k] * cf.c[k]) >> kWidth16[k];
            out = Join16(r);
            break;
          case 10: {
            Fields16 inv = Split16(~flat & 0xFFFF);
            for (int k = 0; k < 3; ++k) r[k] = df.c[k] + SignedScale(p, inv.c[k] - df.c[k]);
            out = Join16(r);
            break;
          }
          case 11:
            for (int k = 0; k < 3; ++k) {
              int m = (cf.c[k] * df.c[k]) >> kWidth16[k];
              r[k] = df.c[k] + SignedScale(p, m - df.c[k]);
            }
            out = Join16(r);
            break;
        }
      } else {
        int db[3], cb[3], r[3];
        Split32(d, db);
        Split32(flat, cb);
        switch (em) {
          case 0:
            out = flat;
            break;
          case 1:
            for (int k = 0; k < 3; ++k) r[k] = Fade(db[k], cb[k], p, 256);
            out = Join32(r, d);
            break;
          case 2:
          case 3: {
            for (int k = 0; k < 3; ++k) r[k] = Bright(p, cb[k]);
            const u32 s = Join32(r, 0);
            out = em == 2 ? Add32Channels(d, s) : Sub32Channels(d, s);
            break;
          }
          case 4:
            for (int k = 0; k < 3; ++k) r[k] = (cb[k] * db[k]) >> 8;
            out = Join32(r, d);
            break;
          case 10:
            for (int k = 0; k < 3; ++k) r[k] = Fade(db[k], 255 - cb[k], p, 256);
            out = Join32(r, d);
            break;
          case 11:
            for (int k = 0; k < 3; ++k) r[k] = Fade(db[k], (cb[k] * db[k]) >> 8, p, 256);
            out = Join32(r, d);
            break;
        }
      }
      if (dest.kind == 0)
        put16(dp, out);
      else
        put32(dp, out);
      return;
    }

    // Textured: the coordinate of this very pixel, wrapping like the stepped values.
    const u32 u = u32(U0 + (x - x0) * i64(dUdx) + (y - y0) * i64(dUdy));
    const u32 v = u32(V0 + (x - x0) * i64(dVdx) + (y - y0) * i64(dVdy));
    if (u >= limU || v >= limV) return;
    const i64 tx = u >> 18, ty = v >> 18;
    const std::uint8_t* tp = src->pixels + std::ptrdiff_t(ty) * src->pitch + std::ptrdiff_t(tx) * srcBpp;
    int w = 0;
    if (B_) w = state.borderTable[blend->pixels[std::ptrdiff_t(ty) * blend->pitch + std::ptrdiff_t(tx)]];

    if (paletteSrc) {
      const u32 index = *tp;
      if (T_ && index == src->colorKey) {
        ++st.skipped;
        return;
      }
      if (dest.kind == 0) {
        const u32 entry = static_cast<const std::uint16_t*>(src->paletteTable)[index];
        Fields16 sf = Split16(em == 10 ? (~entry & 0xFFFF) : entry);
        if (!white)
          for (int k = 0; k < 3; ++k) sf.c[k] = Bright(brightOf16[k], sf.c[k]);
        Fields16 df = Split16(d);
        int r[3];
        for (int k = 0; k < 3; ++k) {
          const int s = sf.c[k], dd = df.c[k], n = kWidth16[k];
          switch (em) {
            case 0:
              r[k] = B_ ? Fade(dd, s, w, 256) : s;
              break;
            case 1:
            case 10:
              r[k] = B_ ? Fade(dd, s, i64(w) * p, 65536) : dd + SignedScale(p, s - dd);
              break;
            case 2:
            case 3:
              r[k] = Bright(p, B_ ? (s * w) >> 8 : s);
              break;
            case 4:
              r[k] = B_ ? (s * dd * w) >> (n + 8) : (s * dd) >> n;
              break;
            case 11: {
              const int m = (s * dd) >> n;
              r[k] = B_ ? Fade(dd, m, i64(w) * p, 65536) : dd + SignedScale(p, m - dd);
              break;
            }
          }
        }
        if (em == 2)
          out = Add16Channels(d, Join16(r));
        else if (em == 3)
          out = Sub16Channels(d, Join16(r));
        else
          out = Join16(r);
        put16(dp, out);
      } else {
        const u32 entry = static_cast<const u32*>(src->paletteTable)[index];
        int sb[3], db[3], r[3];
        Split32(entry, sb);
        if (em == 10)
          for (int k = 0; k < 3; ++k) sb[k] = 255 - sb[k];
        if (!white)
          for (int k = 0; k < 3; ++k) sb[k] = Bright(brightOf32[k], sb[k]);
        Split32(d, db);
        for (int k = 0; k < 3; ++k) {
          const int s = sb[k], dd = db[k];
          switch (em) {
            case 0:
              r[k] = B_ ? Fade(dd, s, w, 256) : s;
              break;
            case 1:
            case 10:
              r[k] = B_ ? Fade(dd, s, i64(w) * p, 65536) : Fade(dd, s, p, 256);
              break;
            case 2:
            case 3:
              r[k] = B_ ? int((i64(s) * w * p) >> 16) : Bright(p, s);
              break;
            case 4:
              r[k] = B_ ? (s * dd * w) >> 16 : (s * dd) >> 8;
              break;
            case 11: {
              const int m = (s * dd) >> 8;
              r[k] = B_ ? Fade(dd, m, i64(w) * p, 65536) : Fade(dd, m, p, 256);
              break;
            }
          }
        }
        if (em == 2)
          out = Add32Channels(d, Join32(r, 0));
        else if (em == 3)
          out = Sub32Channels(d, Join32(r, 0));
        else if (em == 0 && white && !B_)
          out = entry;
        else
          out = Join32(r, d);
        put32(dp, out);
      }
      return;
    }

    if (dest.kind == 0) {
      // 16-bit direct colour, 2-byte texels, or 4-byte texels with alpha in bits 16-23.
      const u32 texel = A_ ? Load32(tp) : Load16(tp);
      const u32 col = texel & 0xFFFF;
      const int a = A_ ? int((texel >> 16) & 255) : 0;
      bool useA = false;
      if (!A_) {
        if (T_ && col == src->colorKey) {
          ++st.skipped;
          return;
        }
      } else if (T_) {
        if (a == 0 && (em <= 3 || em == 10)) {
          ++st.skipped;
          return;
        }
        useA = a != 255;
      } else {
        useA = true;
      }
      const Fields16 cf = Split16(col), df = Split16(d);
      int cp[3];  // after brightness
      for (int k = 0; k < 3; ++k) cp[k] = white ? cf.c[k] : Bright(brightOf16[k], cf.c[k]);
      int r[3];
      if (em == 0 && !B_ && !useA) {
        out = white ? col : Join16(cp);
        put16(dp, out);
        return;
      }
      for (int k = 0; k < 3; ++k) {
        const int dd = df.c[k], n = kWidth16[k];
        switch (em) {
          case 0:
            if (B_ && useA)
              r[k] = Fade(dd, cp[k], i64(w) * a, 65536);
            else if (B_)
              r[k] = Fade(dd, cp[k], w, 256);
            else
              r[k] = Fade(dd, cp[k], a, 256);
            break;
          case 1:
          case 10:
          case 11: {
            int t;
            if (em == 1) {
              t = cp[k];
            } else if (em == 10) {
              const int inv = Split16(~col & 0xFFFF).c[k];
              t = white ? inv : Bright(brightOf16[k], inv);
            } else {
              t = (cp[k] * dd) >> n;
            }
            if (B_ && useA)
              r[k] = Fade(dd, t, i64(w) * a * p, 16777216);
            else if (B_)
              r[k] = Fade(dd, t, i64(w) * p, 65536);
            else if (useA)
              r[k] = Fade(dd, t, i64(a) * p, 65536);
            else
              r[k] = dd + SignedScale(p, t - dd);
            break;
          }
          case 2:
          case 3: {
            int s;
            if (B_ && useA)
              s = int(FloorDiv(i64(cp[k]) * w * a, 65536));
            else if (B_)
              s = int(FloorDiv(i64(cp[k]) * w, 256));
            else if (useA) {
              s = int(FloorDiv(i64(cf.c[k]) * a, 256));  // alpha before brightness here
              if (!white) s = Bright(brightOf16[k], s);
            } else
              s = cp[k];
            r[k] = Bright(p, s);
            break;
          }
          case 4: {
            i64 prod = i64(dd) * cp[k];
            int sh = n;
            if (B_) {
              prod *= w;
              sh += 8;
            }
            if (useA) {
              prod *= a;
              sh += 8;
            }
            r[k] = int(prod >> sh);
            break;
          }
        }
      }
      if (em == 2)
        out = Add16Channels(d, Join16(r));
      else if (em == 3)
        out = Sub16Channels(d, Join16(r));
      else
        out = Join16(r);
      put16(dp, out);
      return;
    }

    // 32-bit direct colour.
    const u32 texel = Load32(tp);
    const int a = int(texel >> 24);
    bool useA = false;
    if (!A_) {
      if (T_ && texel == src->colorKey) {
        ++st.skipped;
        return;
      }
    } else if (T_) {
      if (a == 0 && em <= 3) {
        ++st.skipped;
        return;
      }
      useA = a != 255;
    } else {
      useA = true;
    }
    int sb[3], db[3], xk[3], r[3];
    Split32(texel, sb);
    Split32(d, db);
    for (int k = 0; k < 3; ++k) {
      int s = sb[k];
      if (em == 10) s = 255 - s;
      if (!white) s = Bright(brightOf32[k], s);
      if (em == 11) s = (s * db[k]) >> 8;
      xk[k] = s;
    }
    i64 F = 1;
    int m = 0;
    if (B_) {
      F *= w;
      ++m;
    }
    if (useA) {
      F *= a;
      ++m;
    }
    if (em == 0 || em == 1 || em == 10 || em == 11) {
      i64 Fall = F;
      int nf = m;
      if (em != 0) {
        Fall *= p;
        ++nf;
      }
      if (nf == 0) {
        out = white ? texel : Join32(xk, d);
      } else {
        for (int k = 0; k < 3; ++k) r[k] = Fade(db[k], xk[k], Fall, i64(1) << (8 * nf));
        out = Join32(r, d);
      }
    } else if (em == 2 || em == 3) {
      for (int k = 0; k < 3; ++k)
        r[k] = m == 0 ? Bright(p, xk[k]) : int((i64(xk[k]) * F * p) >> (8 * (m + 1)));
      const u32 s = Join32(r, 0);
      out = em == 2 ? Add32Channels(d, s) : Sub32Channels(d, s);
    } else {  // 4
      for (int k = 0; k < 3; ++k) r[k] = int((i64(xk[k]) * F * db[k]) >> (8 * (m + 1)));
      out = Join32(r, d);
    }
    put32(dp, out);
  };

  // ---- The walk: edge X of a row is the segment start plus k whole steps.
  i64 y = T18(L[0].startY);
  int li = 0, ri = 0;
  i64 lk = 0, rk = 0;
  for (;;) {
    const i64 leftX = L[li].startX + lk * L[li].step;
    const i64 rightX = R[ri].startX + rk * R[ri].step;
    i64 x = T18(leftX);
    const i64 last = T18(rightX);
    if (y >= areaT && y < areaB) {
      for (i64 px = std::max<i64>(x, areaL); px <= last && px < areaR; ++px) drawPixel(px, y);
    }
    ++lk;
    ++rk;
    ++y;
    if (lk == L[li].rows) {
      if (li == nL - 1) return;
      ++li;
      lk = 0;
      y = T18(L[li].startY);
    }
    if (rk == R[ri].rows) {
      if (ri == nR - 1) return;
      ++ri;
      rk = 0;
    }
  }
}

}  // namespace gamelib::reference
