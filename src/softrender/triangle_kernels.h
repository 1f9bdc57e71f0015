// Pixel kernels of the triangle rasteriser, generated from templates: one row walk, one
// span loop per (destination kind, texel fetch, blend mode, blend image, white brightness,
// trans), and the per-pixel formulas of each blend mode. Included by the portable kernel
// tables and by the vector ones, so both share the row walk and the scalar formulas.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "softrender/kernel_key.h"
#include "softrender/triangle.h"

namespace gamelib::raster {

#define GAMELIB_INLINE inline __attribute__((always_inline))

// Everything a kernel reads, prepared once per call.
struct KernelContext {
  std::uint8_t* destPixels;
  std::ptrdiff_t destPitch;
  const std::uint8_t* srcPixels;
  std::ptrdiff_t srcPitch;
  std::uint32_t texWidth;  // texture bounds as Fixed18 values (width << 18)
  std::uint32_t texHeight;
  std::uint32_t colorKey;
  const void* palette;
  const std::uint8_t* blendPixels;
  std::ptrdiff_t blendPitch;
  const std::uint8_t* border;  // BlendBorderTable
  int areaLeft;
  int areaTop;
  int areaRight;
  int areaBottom;
  std::uint32_t parameter;         // 0..255
  const std::int32_t* brightBlue;  // BrightnessTable rows of the draw brightness
  const std::int32_t* brightGreen;
  const std::int32_t* brightRed;
  const std::int32_t* brightParam;  // BrightnessTable row of the parameter
  const std::int32_t* scale;        // SignedScaleTable row of the parameter, at d = 0
  std::uint32_t colour;             // flat colour after brightness
};

using KernelFn = void (*)(const TriangleSetup&, const KernelContext&);

// ---- Texel fetch policies ------------------------------------------------------------

template <int DestKind, int Bytes, bool Alpha, bool Palette>
struct Fetch {
  static constexpr int kind = DestKind;
  static constexpr int bytes = Bytes;
  static constexpr bool alpha = Alpha;
  static constexpr bool palette = Palette;
};
// The fetch policy of a textured kernel.
template <KernelKey K>
using FetchOf =
    std::conditional_t<K.source == KernelSource::Palette, Fetch<K.kind, 1, false, true>,
                       Fetch<K.kind, K.kind == kMemImgKind16 && !K.alpha ? 2 : 4, K.alpha, false>>;

GAMELIB_INLINE std::uint32_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
GAMELIB_INLINE std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
GAMELIB_INLINE void Store16(std::uint8_t* p, std::uint32_t v) {
  const auto w = static_cast<std::uint16_t>(v);
  std::memcpy(p, &w, 2);
}
GAMELIB_INLINE void Store32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Tables a pixel reads, copied out of the context so that stores cannot force reloads.
struct PixelTables {
  const std::int32_t* bright[3];  // by field: 0 blue, 1 green, 2 red
  const std::int32_t* brightParam;
  const std::int32_t* scale;
  std::uint32_t p;
};

GAMELIB_INLINE PixelTables MakePixelTables(const KernelContext& k) {
  return PixelTables{{k.brightBlue, k.brightGreen, k.brightRed}, k.brightParam, k.scale, k.parameter};
}

// ---- 16-bit destinations (5-6-5) ------------------------------------------------------

// Field f: 0 blue (bits 0-4), 1 green (5-10), 2 red (11-15).
constexpr int kFieldShift16[3] = {0, 5, 11};
constexpr int kFieldWidth16[3] = {5, 6, 5};
constexpr std::uint32_t kFieldMask16[3] = {31, 63, 31};

// New 16-bit pixel from destination d and texel colour c (5-6-5), with alpha a and blend
// weight w where the variant uses them. UseAlpha: the alpha weighting applies to this texel.
template <int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_INLINE std::uint32_t Combine16(std::uint32_t d, std::uint32_t c, std::uint32_t a, std::uint32_t w,
                                       const PixelTables& t) {
  if constexpr (Mode == BlendNone && !B && !UseAlpha && W) {
    return c & 0xFFFF;
  }
  std::uint32_t result = 0;
  std::uint32_t addend = 0;
#pragma GCC unroll 3
  for (int f = 0; f < 3; ++f) {
    const int n = kFieldWidth16[f];
    const int dF = static_cast<int>((d >> kFieldShift16[f]) & kFieldMask16[f]);
    const int cF = static_cast<int>((c >> kFieldShift16[f]) & kFieldMask16[f]);
    const int cb = W ? cF : t.bright[f][cF];  // texel after brightness
    int out = 0;
    if constexpr (Mode == BlendNone) {
      if constexpr (!B && !UseAlpha) {
        out = cb;
      } else if constexpr (B && UseAlpha) {
        out = (dF * 65536 + (cb - dF) * static_cast<int>(w * a)) >> 16;
      } else if constexpr (B) {
        out = (dF * 256 + (cb - dF) * static_cast<int>(w)) >> 8;
      } else {
        out = (dF * 256 + (cb - dF) * static_cast<int>(a)) >> 8;
      }
    } else if constexpr (Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade) {
      int target;
      if constexpr (Mode == BlendAlpha) {
        target = cb;
      } else if constexpr (Mode == BlendInverted) {
        const int inverted = static_cast<int>(kFieldMask16[f]) - cF;  // inversion before brightness
        target = W ? inverted : t.bright[f][inverted];
      } else {
        target = (cb * dF) >> n;
      }
      const int p = static_cast<int>(t.p);
      if constexpr (!B && !UseAlpha) {
        out = dF + t.scale[target - dF];
      } else if constexpr (B && UseAlpha) {
        out = (dF * 16777216 + (target - dF) * static_cast<int>(w * a * t.p)) >> 24;
      } else if constexpr (B) {
        out = (dF * 65536 + (target - dF) * static_cast<int>(w) * p) >> 16;
      } else {
        out = (dF * 65536 + (target - dF) * static_cast<int>(a) * p) >> 16;
      }
    } else if constexpr (Mode == BlendAdd || Mode == BlendSub) {
      int s;
      if constexpr (!B && !UseAlpha) {
        s = cb;
      } else if constexpr (B && UseAlpha) {
        s = (cb * static_cast<int>(w * a)) >> 16;
      } else if constexpr (B) {
        s = (cb * static_cast<int>(w)) >> 8;
      } else {
        // Alpha before brightness.
        const int weighted = (cF * static_cast<int>(a)) >> 8;
        s = W ? weighted : t.bright[f][weighted];
      }
      addend |= static_cast<std::uint32_t>(t.brightParam[s]) << kFieldShift16[f];
      continue;
    } else if constexpr (Mode == BlendMul) {
      if constexpr (!B && !UseAlpha) {
        out = (dF * cb) >> n;
      } else if constexpr (B && UseAlpha) {
        out = (dF * cb * static_cast<int>(w * a)) >> (n + 16);
      } else if constexpr (B) {
        out = (dF * cb * static_cast<int>(w)) >> (n + 8);
      } else {
        out = (dF * cb * static_cast<int>(a)) >> (n + 8);
      }
    }
    result |= static_cast<std::uint32_t>(out) << kFieldShift16[f];
  }
  if constexpr (Mode == BlendAdd) return PackedAdd16(d, addend);
  if constexpr (Mode == BlendSub) return PackedSub16(d, addend);
  return result;
}

// ---- 32-bit destinations (X8R8G8B8) -----------------------------------------------------

template <int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_INLINE std::uint32_t Combine32(std::uint32_t d, std::uint32_t c, std::uint32_t a, std::uint32_t w,
                                       const PixelTables& t) {
  if constexpr (Mode == BlendNone && !B && !UseAlpha && W) {
    return c;  // the whole texel word, byte 3 included
  }
  constexpr bool interpolating =
      Mode == BlendNone || Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  constexpr bool withParameter = Mode == BlendAlpha || Mode == BlendInverted || Mode == BlendMulFade;
  // Weights other than the parameter: w, then a.
  constexpr int weights = (B ? 1 : 0) + (UseAlpha ? 1 : 0);
  std::uint32_t weight = 1;
  if constexpr (B) weight *= w;
  if constexpr (UseAlpha) weight *= a;
  constexpr int interpolationFactors = weights + (withParameter ? 1 : 0);
  if constexpr (interpolating && interpolationFactors == 1 && Mode != BlendMulFade) {
    // One factor: x*F + d*(256 - F) stays below 2^16 per channel, so blue with red and
    // green alone can each go through one multiply; the bytes come out the same.
    std::uint32_t f = weight;
    if constexpr (withParameter) f *= t.p;
    std::uint32_t x;
    if constexpr (W) {
      x = Mode == BlendInverted ? ~c : c;
    } else {
      const std::uint32_t src = Mode == BlendInverted ? ~c : c;
      x = static_cast<std::uint32_t>(t.bright[0][src & 0xFF]) |
          static_cast<std::uint32_t>(t.bright[1][(src >> 8) & 0xFF]) << 8 |
          static_cast<std::uint32_t>(t.bright[2][(src >> 16) & 0xFF]) << 16;
    }
    const std::uint32_t g = 256 - f;
    const std::uint32_t rb = (((x & 0x00FF00FFu) * f + (d & 0x00FF00FFu) * g) >> 8) & 0x00FF00FFu;
    const std::uint32_t gg = (((x & 0x0000FF00u) * f + (d & 0x0000FF00u) * g) >> 8) & 0x0000FF00u;
    return (d & 0xFF000000u) | rb | gg;
  }
  std::uint32_t result = interpolating || Mode == BlendMul ? (d & 0xFF000000u) : 0;
  std::uint32_t addend = 0;
#pragma GCC unroll 3
  for (int ch = 0; ch < 3; ++ch) {
    const int shift = ch * 8;
    const std::uint32_t s = (c >> shift) & 0xFF;
    const std::uint32_t dc = (d >> shift) & 0xFF;
    std::uint32_t x;
    if constexpr (Mode == BlendInverted) {
      x = W ? 255 - s : static_cast<std::uint32_t>(t.bright[ch][255 - s]);
    } else if constexpr (Mode == BlendMulFade) {
      x = ((W ? s : static_cast<std::uint32_t>(t.bright[ch][s])) * dc) >> 8;
    } else {
      x = W ? s : static_cast<std::uint32_t>(t.bright[ch][s]);
    }
    std::uint32_t out = 0;
    if constexpr (interpolating) {
      constexpr int factors = weights + (withParameter ? 1 : 0);
      if constexpr (factors == 0) {
        out = x;
      } else {
        constexpr int n = 8 * factors;
        std::uint32_t f = weight;
        if constexpr (withParameter) f *= t.p;
        // x*F + d*(2^n - F): never negative and below 2^32.
        out = (x * f + dc * ((std::uint32_t{1} << n) - f)) >> n;
      }
    } else if constexpr (Mode == BlendAdd || Mode == BlendSub) {
      std::uint32_t contribution;
      if constexpr (weights == 0) {
        contribution = static_cast<std::uint32_t>(t.brightParam[x]);
      } else {
        contribution = (x * weight * t.p) >> (8 * (weights + 1));
      }
      addend |= contribution << shift;
      continue;
    } else if constexpr (Mode == BlendMul) {
      out = (x * weight * dc) >> (8 * (weights + 1));
    }
    result |= out << shift;
  }
  if constexpr (Mode == BlendAdd) return PackedAdd32(d, addend);
  if constexpr (Mode == BlendSub) return PackedSub32(d, addend);
  return result;
}

template <int Kind, int Mode, bool B, bool W, bool UseAlpha>
GAMELIB_INLINE std::uint32_t Combine(std::uint32_t d, std::uint32_t c, std::uint32_t a, std::uint32_t w,
                                     const PixelTables& t) {
  if constexpr (Kind == kMemImgKind16) {
    return Combine16<Mode, B, W, UseAlpha>(d, c, a, w, t);
  } else {
    return Combine32<Mode, B, W, UseAlpha>(d, c, a, w, t);
  }
}

// ---- Row walk ------------------------------------------------------------------------

// Yields (y, x, count) for every row of the triangle inside the draw area, exactly as the
// row-by-row walk would; rows above and below the area are stepped over in one go. An
// iterator rather than a callback, so that a caller compiled for other instructions can
// inline it.
class RowWalker {
 public:
  GAMELIB_INLINE RowWalker(const TriangleSetup& setup, const KernelContext& k)
      : left_(setup.left),
        right_(setup.right),
        y_(setup.topRow),
        top_(k.areaTop),
        bottom_(k.areaBottom),
        areaLeft_(k.areaLeft),
        areaRight_(k.areaRight),
        clip_(setup.minX < k.areaLeft || setup.maxX >= k.areaRight || setup.minY < k.areaTop ||
              setup.maxY > k.areaBottom) {}

  GAMELIB_INLINE bool Next(int& spanY, int& spanX, int& spanCount) {
    if (!clip_) {
      // Every row is inside the area, and every edge at or right of column 0.
      while (!done_) {
        const std::int64_t x = left_.x >> kFixed18Shift;
        const std::int64_t count = (right_.x >> kFixed18Shift) - x + 1;
        spanY = static_cast<int>(y_);
        spanX = static_cast<int>(x);
        spanCount = static_cast<int>(count);
        Advance(1);
        if (count > 0) return true;
      }
      return false;
    }
    while (!done_) {
      std::int64_t rows = 1;
      bool found = false;
      if (y_ >= top_ && y_ < bottom_) {
        std::int64_t x = TruncFixed18(left_.x);
        const std::int64_t last = TruncFixed18(right_.x);
        std::int64_t count = last - x + 1;
        if (x < areaLeft_) {
          count -= areaLeft_ - x;
          x = areaLeft_;
        }
        if (count > 0 && x < areaRight_) {
          spanY = static_cast<int>(y_);
          spanX = static_cast<int>(x);
          spanCount = static_cast<int>(std::min(count, areaRight_ - x));
          found = true;
        }
      } else {
        // Only a switch of the left side moves y back; without one nothing below is drawn.
        if (y_ >= bottom_ && left_.segment == left_.lastSegment) return false;
        rows = std::min(left_.rowsLeft, right_.rowsLeft);
        if (y_ < top_) rows = std::min(rows, top_ - y_);
      }
      Advance(rows);
      if (found) return true;
    }
    return false;
  }

 private:
  GAMELIB_INLINE void Advance(std::int64_t rows) {
    left_.x += rows * left_.step;
    right_.x += rows * right_.step;
    y_ += rows;
    left_.rowsLeft -= static_cast<int>(rows);
    right_.rowsLeft -= static_cast<int>(rows);
    if (left_.rowsLeft == 0) {
      if (left_.segment == left_.lastSegment) {
        done_ = true;
        return;
      }
      left_.segment = 1;
      left_.x = left_.nextX;
      left_.step = left_.nextStep;
      left_.rowsLeft = left_.nextRows;
      y_ = TruncFixed18(left_.nextY);
    }
    if (right_.rowsLeft == 0) {
      if (right_.segment == right_.lastSegment) {
        done_ = true;
        return;
      }
      right_.segment = 1;
      right_.x = right_.nextX;
      right_.step = right_.nextStep;
      right_.rowsLeft = right_.nextRows;
    }
  }

  TriEdge left_;
  TriEdge right_;
  std::int64_t y_;
  std::int64_t top_;
  std::int64_t bottom_;
  std::int64_t areaLeft_;
  std::int64_t areaRight_;
  bool clip_;
  bool done_ = false;
};

// Runs span(y, x, count) for every row the walker yields.
template <class Span>
GAMELIB_INLINE void WalkRows(const TriangleSetup& setup, const KernelContext& k, Span&& span) {
  RowWalker walker(setup, k);
  int y = 0;
  int x = 0;
  int count = 0;
  while (walker.Next(y, x, count)) span(y, x, count);
}

// Texture coordinate of pixel (x, y), in wrapping 32-bit arithmetic.
GAMELIB_INLINE std::uint32_t CoordAt(Fixed18 origin, Fixed18 perX, Fixed18 perY, int dx, int dy) {
  return static_cast<std::uint32_t>(origin) +
         static_cast<std::uint32_t>(dx) * static_cast<std::uint32_t>(perX) +
         static_cast<std::uint32_t>(dy) * static_cast<std::uint32_t>(perY);
}

constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  return a >= 0 ? a / b : -((-a + b - 1) / b);
}
constexpr std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

// The pixels i of [0, n) whose coordinate c + i*d (32-bit wrapping) lies below limit
// (limit <= 2^31) form one run as long as the coordinate cannot wrap inside the span:
// narrows [lo, hi) to that run and returns true, or returns false when it might wrap.
GAMELIB_INLINE bool NarrowToBounds(std::uint32_t c, Fixed18 d, std::uint32_t limit, int n, int& lo, int& hi) {
  const std::int64_t start = static_cast<std::int32_t>(c);
  const std::int64_t end = start + static_cast<std::int64_t>(n - 1) * d;
  if (end < INT32_MIN || end > INT32_MAX) return false;
  const std::int64_t top = static_cast<std::int64_t>(limit) - 1;
  // Both ends inside: so is everything between (the usual case, no division).
  if (start >= 0 && start <= top && end >= 0 && end <= top) return true;
  std::int64_t first;
  std::int64_t last;
  if (d > 0) {
    first = CeilDiv(-start, d);
    last = FloorDiv(top - start, d);
  } else if (d < 0) {
    first = CeilDiv(start - top, -static_cast<std::int64_t>(d));
    last = FloorDiv(start, -static_cast<std::int64_t>(d));
  } else {
    const bool inside = start >= 0 && start <= top;
    first = inside ? 0 : n;
    last = inside ? n - 1 : -1;
  }
  lo = static_cast<int>(std::max<std::int64_t>(lo, std::min<std::int64_t>(first, n)));
  hi = static_cast<int>(std::min<std::int64_t>(hi, std::max<std::int64_t>(last + 1, 0)));
  if (hi < lo) hi = lo;
  return true;
}

// True when the coordinates c + i*d of all n pixels lie below limit without wrapping.
GAMELIB_INLINE bool SpanInside(std::uint32_t c, Fixed18 d, std::uint32_t limit, int n) {
  const std::int64_t start = static_cast<std::int32_t>(c);
  const std::int64_t end = start + static_cast<std::int64_t>(n - 1) * d;
  return start >= 0 && start < limit && end >= 0 && end < limit;
}

// Spans shorter than this that are not wholly inside the source test every pixel; longer
// ones find their in-bounds run first (four divisions).
constexpr int kRunSearchMinimum = 32;

// ---- Textured kernels ----------------------------------------------------------------

// Per-call values of a textured span loop, held in locals.
struct TexturedLocals {
  const std::uint8_t* src;
  std::ptrdiff_t srcPitch;
  std::uint32_t colorKey;
  const void* palette;
  const std::uint8_t* blend;
  std::ptrdiff_t blendPitch;
  const std::uint8_t* border;
  PixelTables tables;
};

GAMELIB_INLINE TexturedLocals MakeTexturedLocals(const KernelContext& k) {
  return TexturedLocals{k.srcPixels,   k.srcPitch,   k.colorKey, k.palette,
                        k.blendPixels, k.blendPitch, k.border,   MakePixelTables(k)};
}

// Alpha-carrying texels with trans: a = 0 is skipped in these modes (in the others it
// weighs 0, which for modes 10 and 11 changes nothing anyway).
constexpr bool SkipsZeroAlpha(int mode) { return mode <= BlendSub || mode == BlendInverted; }

// One textured pixel whose coordinates passed the bounds test.
template <class F, int Mode, bool B, bool W, bool T>
GAMELIB_INLINE void TexturedPixel(const TexturedLocals& l, std::uint8_t* dp, std::uint32_t u,
                                  std::uint32_t v) {
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  const std::ptrdiff_t tu = static_cast<std::ptrdiff_t>(u >> kFixed18Shift);
  const std::ptrdiff_t tv = static_cast<std::ptrdiff_t>(v >> kFixed18Shift);
  const std::uint8_t* tp = l.src + tv * l.srcPitch + tu * F::bytes;
  std::uint32_t colour;
  std::uint32_t a = 0;
  if constexpr (F::palette) {
    const std::uint32_t index = *tp;
    if constexpr (T) {
      if (index == l.colorKey) return;
    }
    if constexpr (F::kind == kMemImgKind16) {
      colour = static_cast<const std::uint16_t*>(l.palette)[index];
    } else {
      colour = static_cast<const std::uint32_t*>(l.palette)[index];
    }
  } else if constexpr (F::alpha) {
    const std::uint32_t texel = Load32(tp);
    if constexpr (F::kind == kMemImgKind16) {
      a = (texel >> 16) & 0xFF;
      colour = texel & 0xFFFF;
    } else {
      a = texel >> 24;
      colour = texel;
    }
    if constexpr (T && SkipsZeroAlpha(Mode)) {
      if (a == 0) return;
    }
  } else {
    colour = F::bytes == 2 ? Load16(tp) : Load32(tp);
    if constexpr (T && Mode == BlendNone && !B && W) {
      // A plain copy: keyed texels write the pixel back unchanged, a select rather than a
      // branch that a keyed texture makes unpredictable.
      const std::uint32_t d = destBytes == 2 ? Load16(dp) : Load32(dp);
      const std::uint32_t out = colour == l.colorKey ? d : colour;
      if constexpr (destBytes == 2) {
        Store16(dp, out);
      } else {
        Store32(dp, out);
      }
      return;
    } else if constexpr (T) {
      if (colour == l.colorKey) return;
    }
  }
  std::uint32_t w = 0;
  if constexpr (B) w = l.border[l.blend[tv * l.blendPitch + tu]];
  const std::uint32_t d = destBytes == 2 ? Load16(dp) : Load32(dp);
  std::uint32_t out;
  if constexpr (F::alpha && T) {
    // Fully opaque texels draw as if there were no alpha.
    if (a == 255) {
      out = Combine<F::kind, Mode, B, W, false>(d, colour, a, w, l.tables);
    } else {
      out = Combine<F::kind, Mode, B, W, true>(d, colour, a, w, l.tables);
    }
  } else {
    out = Combine<F::kind, Mode, B, W, F::alpha>(d, colour, a, w, l.tables);
  }
  if constexpr (destBytes == 2) {
    Store16(dp, out);
  } else {
    Store32(dp, out);
  }
}

// One span of n pixels from pixel (x, y): the portable loop.
template <class F, int Mode, bool B, bool W, bool T>
GAMELIB_INLINE void TexturedSpanPortable(const TexturedLocals l, std::uint32_t texWidth,
                                         std::uint32_t texHeight, std::uint8_t* dp, std::uint32_t u,
                                         std::uint32_t v, Fixed18 du, Fixed18 dv, int n) {
  // l is a copy: nothing the stores write can alias it, so its fields stay in registers.
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  int lo = 0;
  int hi = n;
  if ((SpanInside(u, du, texWidth, n) && SpanInside(v, dv, texHeight, n)) ||
      (n >= kRunSearchMinimum && NarrowToBounds(u, du, texWidth, n, lo, hi) &&
       NarrowToBounds(v, dv, texHeight, n, lo, hi))) {
    u += static_cast<std::uint32_t>(lo) * static_cast<std::uint32_t>(du);
    v += static_cast<std::uint32_t>(lo) * static_cast<std::uint32_t>(dv);
    dp += static_cast<std::ptrdiff_t>(lo) * destBytes;
    for (int i = lo; i < hi; ++i) {
      TexturedPixel<F, Mode, B, W, T>(l, dp, u, v);
      u += static_cast<std::uint32_t>(du);
      v += static_cast<std::uint32_t>(dv);
      dp += destBytes;
    }
    return;
  }
  for (int i = 0; i < n; ++i) {
    if (u < texWidth && v < texHeight) TexturedPixel<F, Mode, B, W, T>(l, dp, u, v);
    u += static_cast<std::uint32_t>(du);
    v += static_cast<std::uint32_t>(dv);
    dp += destBytes;
  }
}

template <class F, int Mode, bool B, bool W, bool T>
void DrawTexturedPortable(const TriangleSetup& setup, const KernelContext& k) {
  constexpr int destBytes = F::kind == kMemImgKind16 ? 2 : 4;
  const TriGradients g = setup.gradients;
  const TexturedLocals l = MakeTexturedLocals(k);
  std::uint8_t* const pixels = k.destPixels;
  const std::ptrdiff_t pitch = k.destPitch;
  WalkRows(setup, k, [&](int y, int x, int n) {
    const std::uint32_t u = CoordAt(g.u0, g.dudx, g.dudy, x - g.x0, y - g.y0);
    const std::uint32_t v = CoordAt(g.v0, g.dvdx, g.dvdy, x - g.x0, y - g.y0);
    std::uint8_t* dp =
        pixels + static_cast<std::ptrdiff_t>(y) * pitch + static_cast<std::ptrdiff_t>(x) * destBytes;
    TexturedSpanPortable<F, Mode, B, W, T>(l, k.texWidth, k.texHeight, dp, u, v, g.dudx, g.dvdx, n);
  });
}

// ---- Flat-colour kernels ---------------------------------------------------------------

// Modes 2 and 3 of a flat colour: the colour scaled by the parameter, the same for every
// pixel (0 for the other modes).
template <int Kind, int Mode>
std::uint32_t FlatAddend(const PixelTables& t, std::uint32_t c) {
  std::uint32_t addend = 0;
  if constexpr (Mode == BlendAdd || Mode == BlendSub) {
    if constexpr (Kind == kMemImgKind16) {
      for (int f = 0; f < 3; ++f) {
        addend |= static_cast<std::uint32_t>(t.brightParam[(c >> kFieldShift16[f]) & kFieldMask16[f]])
                  << kFieldShift16[f];
      }
    } else {
      for (int ch = 0; ch < 3; ++ch) {
        addend |= static_cast<std::uint32_t>(t.brightParam[(c >> (ch * 8)) & 0xFF]) << (ch * 8);
      }
    }
  }
  return addend;
}

// n pixels from dp in the flat colour c (addend: FlatAddend of c), as every flat fill
// of the software renderer draws them.
template <int Kind, int Mode>
inline void FlatSpan(std::uint8_t* dp, int n, const PixelTables& t, std::uint32_t c, std::uint32_t addend) {
  constexpr int destBytes = Kind == kMemImgKind16 ? 2 : 4;
  for (int i = 0; i < n; ++i, dp += destBytes) {
    if constexpr (Kind == kMemImgKind16) {
      const std::uint32_t d = Load16(dp);
      std::uint32_t out;
      if constexpr (Mode == BlendAdd) {
        out = PackedAdd16(d, addend);
      } else if constexpr (Mode == BlendSub) {
        out = PackedSub16(d, addend);
      } else {
        out = Combine16<Mode, false, true, false>(d, c, 0, 0, t);
      }
      Store16(dp, out);
    } else {
      const std::uint32_t d = Load32(dp);
      std::uint32_t out;
      if constexpr (Mode == BlendAdd) {
        out = PackedAdd32(d, addend);
      } else if constexpr (Mode == BlendSub) {
        out = PackedSub32(d, addend);
      } else {
        out = Combine32<Mode, false, true, false>(d, c, 0, 0, t);
      }
      Store32(dp, out);
    }
  }
}

template <int Kind, int Mode>
void DrawFlatPortable(const TriangleSetup& setup, const KernelContext& k) {
  constexpr int destBytes = Kind == kMemImgKind16 ? 2 : 4;
  const PixelTables t = MakePixelTables(k);
  const std::uint32_t c = k.colour;
  const std::uint32_t addend = FlatAddend<Kind, Mode>(t, c);
  std::uint8_t* const pixels = k.destPixels;
  const std::ptrdiff_t pitch = k.destPitch;
  WalkRows(setup, k, [&](int y, int x, int n) {
    std::uint8_t* dp =
        pixels + static_cast<std::ptrdiff_t>(y) * pitch + static_cast<std::ptrdiff_t>(x) * destBytes;
    FlatSpan<Kind, Mode>(dp, n, t, c, addend);
  });
}

}  // namespace gamelib::raster

namespace gamelib::raster {

// One kernel set, indexed by KernelIndex.
using KernelTable = std::array<KernelFn, kKernelCount>;

const KernelTable& GetPortableKernelTable();
// Null when the vector kernels are not built into this program.
const KernelTable* GetAvx2KernelTable();

// Draws an upright rectangle whose texels map one to one onto its pixels (see
// DrawMemImgQuad) as its two halves would, or returns false for the caller to draw them.
using StraightRectangleFn = bool (*)(const TriVertex* corners, const KernelContext&);
// The vector set's kernel for such rectangles under this key, or null where it has none.
StraightRectangleFn GetAvx2StraightRectangleKernel(const KernelKey& key);

}  // namespace gamelib::raster
