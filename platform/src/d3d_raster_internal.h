// What the rasteriser's portable code shares with its SIMD kernels: the fixed-point
// texel arithmetic both must follow bit for bit, the span record of the fast pipeline
// and the choice of path.
#pragma once

#include <cstdint>

#include "platform/d3d.h"

namespace platform::raster {

// The portable path runs everywhere; the AVX2 path replaces the hot spans with kernels
// that give the same bits. The best available path is chosen at the first draw.
enum class RasterPath { Portable, Avx2 };
bool SetRasterPath(RasterPath path);  // false (and no change) when not available here
RasterPath GetRasterPath();
RasterPath BestRasterPath();

namespace detail {

// Texel coordinates are 32.32 fixed point, stepped with wrapping 64-bit adds so that a
// span's start plus k steps is the same number however it is reached.

// The texel a point sample takes, before the address mode: floor of s rounded to 1/65536.
inline std::int32_t PointTexel(std::uint64_t s) { return static_cast<std::int32_t>((s + 0x8000u) >> 32); }
// The linear footprint's first texel and its 8-bit weight: s rounded to 1/65536, less half a texel.
inline std::uint64_t LinearBase(std::uint64_t s) { return s + 0x8000u - 0x80000000u; }
inline std::int32_t LinearTexel(std::uint64_t s) { return static_cast<std::int32_t>(LinearBase(s) >> 32); }
inline std::uint32_t LinearWeight(std::uint64_t s) {
  return static_cast<std::uint32_t>(LinearBase(s) >> 24) & 0xFF;
}

// round(n / 255), halves up (n / 255 never ends in exactly one half).
inline std::uint32_t Div255(std::uint32_t n) { return (n + 127) / 255; }

// One channel pair mixed with an 8-bit weight, rounded: each direction of a linear
// sample rounds on its own.
inline std::uint32_t Lerp8(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
  return (a * (256 - w) + b * w + 128) >> 8;
}

// What a stage argument selects before its complement flag: one pixel's inputs or a
// vector of them (`In` has diffuse, specular and factor). By reference, so that vectors
// cross no function boundary.
template <class T, class In>
__attribute__((always_inline)) inline const T& SelectArgument(DWORD arg, const In& in, const T& current,
                                                              const T& texel) {
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
      return in.diffuse;
    case D3DTA_TEXTURE:
      return texel;
    case D3DTA_TFACTOR:
      return in.factor;
    case D3DTA_SPECULAR:
      return in.specular;
    default:
      return current;
  }
}

// A span of the fast pipeline: a 32-bit target, one clamped 32-bit texture (or none),
// each colour and alpha channel the texel, its complement, either times a constant, or a
// constant, an optional colour key, then the blend. A flat span takes no texel at all.
// General blends any pair of the factors the general path knows.
enum class FastBlend { Copy, Alpha, Add, AddAlpha, General };
constexpr int kFastBlends = 5;

// One row's span: its first pixel, its length, the pixels left in the target's row
// from there, and the 32.32 texel coordinates at its first pixel.
struct FastRow {
  std::uint32_t* dst;
  int count;
  int room;
  std::uint64_t s, t;
};

// What the spans of one triangle (or pair) share. The source pixel is
// (Modulate((texel | fill) ^ flip, multiplier) & keep) | set, fill being 255 alpha for
// a texture without it.
struct FastSpan {
  const std::uint8_t* texture = nullptr;
  std::int64_t texturePitch = 0;
  int textureWidth = 0;
  int textureHeight = 0;
  bool textureAlpha = false;         // A8R8G8B8; X8R8G8B8 reads alpha 255
  bool targetAlpha = false;          // A8R8G8B8 target; X8R8G8B8 reads 255 and writes 0
  std::uint64_t dsdx = 0, dtdx = 0;  // per pixel
  bool modulate = false;             // multiply by `multiplier` (per channel, ARGB bytes)
  bool shaped = false;               // flip, keep or set do something (then modulated too)
  std::uint32_t multiplier = 0xFFFFFFFFu;
  std::uint32_t flip = 0;            // complemented channels
  std::uint32_t keep = 0xFFFFFFFFu;  // channels taken from the texel
  std::uint32_t set = 0;             // the constant channels
  bool keyed = false;
  std::uint32_t key = 0;  // raw texel value that discards the pixel
  // FastBlend::General: D3DBLEND_ factors, ZERO to INVDESTCOLOR only.
  std::uint32_t srcFactor = 0, destFactor = 0;
};

// The whole stage cascade in lanes, for states the fast pipeline above does not take:
// up to eight stages, each with a clamped 32-bit texture or none, any operation and
// argument, colour keys, the alpha test and any blend onto a 32-bit target.
constexpr int kCascadeStages = 8;

struct CascadeStage {
  const std::uint8_t* texture = nullptr;  // null: the texel is 255 everywhere
  std::int64_t texturePitch = 0;
  int textureWidth = 0;
  int textureHeight = 0;
  bool textureAlpha = false;
  bool linear = false;
  std::uint64_t dsdx = 0, dtdx = 0;
  std::uint32_t colorOp = 0, colorArg1 = 0, colorArg2 = 0;
  std::uint32_t alphaOp = 0, alphaArg1 = 0, alphaArg2 = 0;  // alphaOp 0: the alpha is kept
  bool keyed = false;
  std::uint32_t key = 0;
};

struct CascadeSpan {
  int stageCount = 0;
  CascadeStage stage[kCascadeStages];
  std::uint32_t diffuse = 0, specular = 0, factor = 0;
  bool targetAlpha = false;
  bool alphaTest = false;
  std::uint32_t alphaFunc = 0, alphaRef = 0;  // D3DCMP_, 0..255
  std::uint32_t srcFactor = 0, destFactor = 0;
};

// A row of the cascade: as FastRow, with each stage's texel coordinates.
struct CascadeRow {
  std::uint32_t* dst;
  int count;
  int room;
  std::uint64_t s[kCascadeStages], t[kCascadeStages];
};

using FastKernel = void (*)(const FastSpan&, const FastRow* rows, int count);
using CascadeKernel = void (*)(const CascadeSpan&, const CascadeRow* rows, int count);
struct FastKernels {
  FastKernel span[2][kFastBlends][3][2];  // by linear, FastBlend, shape, keyed
  FastKernel flat[kFastBlends];           // the source is `set`; no texture is read
  CascadeKernel cascade[kFastBlends];
};

// Null when the build or the processor has no AVX2.
const FastKernels* Avx2FastKernels();

}  // namespace detail
}  // namespace platform::raster
