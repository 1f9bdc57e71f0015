#include "softrender/triangle.h"

#include <algorithm>
#include <cstring>

#include "graphics/draw_state.h"
#include "softrender/triangle_kernels.h"

namespace gamelib {

namespace {

using raster::KernelContext;
using raster::KernelKey;
using raster::KernelSource;
using raster::KernelTable;

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

TriangleKernelSet BestSet() {
  static const TriangleKernelSet best = raster::GetAvx2KernelTable() != nullptr && CpuHasAvx2()
                                            ? TriangleKernelSet::Avx2
                                            : TriangleKernelSet::Portable;
  return best;
}

const KernelTable* activeTable = nullptr;
TriangleKernelSet activeSet = TriangleKernelSet::Portable;

const KernelTable& ActiveTable() {
  if (activeTable == nullptr) SetTriangleKernelSet(BestSet());
  return *activeTable;
}

bool InCoordRange(int value) { return value >= kTriCoordMin && value <= kTriCoordMax; }

// Bytes from an image's first pixel to the end of its last.
std::int64_t ImageExtent(const MEMIMG* image, int bytesPerPixel) {
  return static_cast<std::int64_t>(image->height - 1) * image->shared->pitch +
         static_cast<std::int64_t>(image->width) * bytesPerPixel;
}

bool Overlaps(const MEMIMG* a, std::int64_t aBytes, const MEMIMG* b, std::int64_t bBytes) {
  const auto aStart = reinterpret_cast<std::uintptr_t>(a->pixels);
  const auto bStart = reinterpret_cast<std::uintptr_t>(b->pixels);
  return aStart < bStart + static_cast<std::uintptr_t>(bBytes) &&
         bStart < aStart + static_cast<std::uintptr_t>(aBytes);
}

}  // namespace

int SetTriangleKernelSet(TriangleKernelSet set) {
  if (set == TriangleKernelSet::Avx2) {
    const KernelTable* table = raster::GetAvx2KernelTable();
    if (table == nullptr || !CpuHasAvx2()) return -1;
    activeTable = table;
  } else if (set == TriangleKernelSet::Portable) {
    activeTable = &raster::GetPortableKernelTable();
  } else {
    return -1;
  }
  activeSet = set;
  return 0;
}

TriangleKernelSet GetTriangleKernelSet() {
  ActiveTable();
  return activeSet;
}

TriangleKernelSet GetBestTriangleKernelSet() { return BestSet(); }

namespace {

// Everything a call reads to choose its kernel and fill its context, apart from the
// vertices and the flat colour. A call whose inputs equal the last prepared call's takes
// that call's kernel and context as they are.
struct CallInputs {
  const KernelTable* table;
  std::uint8_t* destPixels;
  const MemImgSharedRecord* destRecord;
  const std::uint8_t* srcPixels;
  const MemImgSharedRecord* srcRecord;
  const void* palette;
  const std::uint8_t* blendPixels;
  const MemImgSharedRecord* blendRecord;
  int destWidth, destHeight, destPitch, destKind, destPaletteFlag, destAlphaFlag;
  int srcWidth, srcHeight, srcPitch, srcKind, srcPaletteFlag, srcAlphaFlag;
  std::uint32_t colorKey;
  int blendWidth, blendHeight, blendPitch;
  int blendMode, blendParameter;
  std::uint32_t brightness;
  int areaLeft, areaTop, areaRight, areaBottom;
  int trans;
};
// Compared word by word: no padding.
static_assert(sizeof(CallInputs) == 8 * 8 + 24 * 4);

struct PreparedCall {
  CallInputs inputs;
  KernelContext context;
  raster::KernelFn kernel;
  raster::StraightRectangleFn rectangle;  // or null
  bool valid;
};

thread_local PreparedCall lastCall{};

bool SameInputs(const CallInputs& a, const CallInputs& b) {
  constexpr std::size_t words = sizeof(CallInputs) / 8;
  std::uint64_t wa[words];
  std::uint64_t wb[words];
  std::memcpy(wa, &a, sizeof a);
  std::memcpy(wb, &b, sizeof b);
  std::uint64_t differ = 0;
  for (std::size_t i = 0; i < words; ++i) differ |= wa[i] ^ wb[i];
  return differ == 0;
}

// The inputs of a call, or false when a pointer it would follow is null.
bool ReadInputs(CallInputs* in, MEMIMG* dest, const MEMIMG* src, int trans, const MEMIMG* blend) {
  *in = CallInputs{};
  const MemImgSharedRecord* destRecord = dest->shared;
  if (destRecord == nullptr || dest->pixels == nullptr) return false;
  in->table = &ActiveTable();
  in->destPixels = dest->pixels;
  in->destRecord = destRecord;
  in->destWidth = dest->width;
  in->destHeight = dest->height;
  in->destPitch = destRecord->pitch;
  in->destKind = destRecord->kind;
  in->destPaletteFlag = destRecord->paletteFlag;
  in->destAlphaFlag = destRecord->alphaFlag;
  if (src != nullptr) {
    const MemImgSharedRecord* srcRecord = src->shared;
    if (srcRecord == nullptr || src->pixels == nullptr) return false;
    in->srcPixels = src->pixels;
    in->srcRecord = srcRecord;
    in->srcWidth = src->width;
    in->srcHeight = src->height;
    in->srcPitch = srcRecord->pitch;
    in->srcKind = srcRecord->kind;
    in->srcPaletteFlag = srcRecord->paletteFlag;
    in->srcAlphaFlag = srcRecord->alphaFlag;
    in->colorKey = srcRecord->colorKey;
    in->palette = srcRecord->palette;
    // A blend image is sampled only beside a source.
    if (blend != nullptr) {
      if (blend->shared == nullptr || blend->pixels == nullptr) return false;
      in->blendPixels = blend->pixels;
      in->blendRecord = blend->shared;
      in->blendWidth = blend->width;
      in->blendHeight = blend->height;
      in->blendPitch = blend->shared->pitch;
    }
  }
  const DrawState& state = GetDrawState();
  in->blendMode = state.blendMode;
  in->blendParameter = state.blendParameter;
  in->brightness = state.brightness;
  in->areaLeft = state.drawAreaLeft;
  in->areaTop = state.drawAreaTop;
  in->areaRight = state.drawAreaRight;
  in->areaBottom = state.drawAreaBottom;
  in->trans = trans != 0;
  return true;
}

// Checks the images and the draw state and chooses the kernel: false when the call draws
// nothing whatever its vertices. The flat colour is not part of it.
bool PrepareCall(PreparedCall* call, MEMIMG* dest, const MEMIMG* src, int trans, const MEMIMG* blend) {
  const CallInputs& in = call->inputs;
  const int kind = in.destKind;
  if (src != nullptr && in.srcKind != kind) return false;
  if (in.destPaletteFlag != 0 || in.destAlphaFlag != 0) return false;
  if (kind != kMemImgKind16 && kind != kMemImgKind32) return false;
  const int destBytes = kind == kMemImgKind16 ? 2 : 4;
  if (in.destWidth < 1 || in.destHeight < 1 ||
      static_cast<std::int64_t>(in.destPitch) < static_cast<std::int64_t>(in.destWidth) * destBytes) {
    return false;
  }

  // The draw state, read once. The area never reaches outside the destination.
  const int parameter = std::clamp(in.blendParameter, 0, 255);
  const std::uint32_t brightness = in.brightness;
  KernelContext& k = call->context;
  k = KernelContext{};
  k.areaLeft = std::max(in.areaLeft, 0);
  k.areaTop = std::max(in.areaTop, 0);
  k.areaRight = std::min(in.areaRight, in.destWidth);
  k.areaBottom = std::min(in.areaBottom, in.destHeight);
  if (k.areaLeft >= k.areaRight || k.areaTop >= k.areaBottom) return false;

  const bool paletteSource = src != nullptr && in.srcPaletteFlag != 0;
  const int mode = raster::KernelMode(in.blendMode, parameter, paletteSource);
  if (mode < 0) return false;

  InitializeBlendTables();
  k.destPixels = in.destPixels;
  k.destPitch = in.destPitch;
  k.parameter = static_cast<std::uint32_t>(parameter);
  k.brightBlue = BrightnessTable[BrightnessBlue(brightness)];
  k.brightGreen = BrightnessTable[BrightnessGreen(brightness)];
  k.brightRed = BrightnessTable[BrightnessRed(brightness)];
  k.brightParam = BrightnessTable[parameter];
  k.scale = SignedScaleTable[parameter] + 255;
  k.border = BlendBorderTable;
  const bool white = IsBrightnessWhite(brightness);
  const KernelTable& table = *in.table;
  const KernelTable* tableForCall = &table;

  KernelKey key{kind, KernelSource::Flat, mode, false, white, false, trans != 0};
  if (src != nullptr) {
    // Sides up to 8192 keep every in-bounds coordinate below 2^31.
    if (in.srcWidth < 1 || in.srcHeight < 1 || in.srcWidth > kMemImgMaxSourceSide ||
        in.srcHeight > kMemImgMaxSourceSide) {
      return false;
    }
    const int srcBytes = GetMemImgPixelBytes(kind, in.srcPaletteFlag, in.srcAlphaFlag);
    if (static_cast<std::int64_t>(in.srcPitch) < static_cast<std::int64_t>(in.srcWidth) * srcBytes)
      return false;
    if (paletteSource && in.palette == nullptr) return false;
    int texWidth = in.srcWidth;
    int texHeight = in.srcHeight;
    if (blend != nullptr) {
      if (in.blendWidth < 1 || in.blendHeight < 1 || in.blendPitch < in.blendWidth) return false;
      // The blend image is sampled at the texel position: never past its own edges.
      texWidth = std::min(texWidth, in.blendWidth);
      texHeight = std::min(texHeight, in.blendHeight);
      k.blendPixels = in.blendPixels;
      k.blendPitch = in.blendPitch;
    }
    k.srcPixels = in.srcPixels;
    k.srcPitch = in.srcPitch;
    k.texWidth = static_cast<std::uint32_t>(texWidth) << kFixed18Shift;
    k.texHeight = static_cast<std::uint32_t>(texHeight) << kFixed18Shift;
    k.colorKey = in.colorKey;
    k.palette = in.palette;
    // The vector kernels read eight texels before they write eight pixels, and address
    // texels with 32-bit offsets: a source or blend image that shares bytes with the
    // destination, or one too large for such offsets, takes the pixel-by-pixel kernels.
    if (&table != &raster::GetPortableKernelTable()) {
      constexpr std::int64_t limit = std::int64_t{1} << 31;
      const std::int64_t destBytesTotal = ImageExtent(dest, destBytes);
      const std::int64_t srcBytesTotal = ImageExtent(src, srcBytes);
      bool portable = srcBytesTotal >= limit || Overlaps(dest, destBytesTotal, src, srcBytesTotal);
      if (blend != nullptr) {
        const std::int64_t blendBytesTotal =
            static_cast<std::int64_t>(blend->height - 1) * blend->shared->pitch + blend->width;
        portable =
            portable || blendBytesTotal >= limit || Overlaps(dest, destBytesTotal, blend, blendBytesTotal);
      }
      if (portable) tableForCall = &raster::GetPortableKernelTable();
    }
    key.source = paletteSource ? KernelSource::Palette : KernelSource::Direct;
    key.blend = blend != nullptr;
    key.alpha = in.srcAlphaFlag != 0;
  }
  call->kernel = (*tableForCall)[raster::KernelIndex(key)];
  call->rectangle =
      tableForCall == raster::GetAvx2KernelTable() ? raster::GetAvx2StraightRectangleKernel(key) : nullptr;
  return true;
}

// The prepared call for these images and the current draw state, or null when the call
// draws nothing.
PreparedCall* CallFor(MEMIMG* dest, const MEMIMG* src, int trans, const MEMIMG* blend) {
  CallInputs in;
  if (!ReadInputs(&in, dest, src, trans, blend)) return nullptr;
  PreparedCall* call = &lastCall;
  if (call->valid && SameInputs(in, call->inputs)) return call;
  call->inputs = in;
  call->valid = PrepareCall(call, dest, src, trans, blend);
  return call->valid ? call : nullptr;
}

// Every flat colour goes through the brightness tables.
std::uint32_t FlatColour(const KernelContext& k, int kind, std::uint32_t colour) {
  if (kind == kMemImgKind16) {
    const std::uint32_t c = colour & 0xFFFF;  // upper bits are outside a 5-6-5 value
    return static_cast<std::uint32_t>(k.brightRed[c >> 11]) << 11 |
           static_cast<std::uint32_t>(k.brightGreen[(c >> 5) & 0x3F]) << 5 |
           static_cast<std::uint32_t>(k.brightBlue[c & 0x1F]);
  }
  return static_cast<std::uint32_t>(k.brightBlue[colour & 0xFF]) |
         static_cast<std::uint32_t>(k.brightGreen[(colour >> 8) & 0xFF]) << 8 |
         static_cast<std::uint32_t>(k.brightRed[(colour >> 16) & 0xFF]) << 16 | (colour & 0xFF000000u);
}

bool TextureCoordsInRange(const TriVertex* vertices, int count) {
  for (int i = 0; i < count; ++i) {
    if (!InCoordRange(vertices[i].u) || !InCoordRange(vertices[i].v)) return false;
  }
  return true;
}

// An upright rectangle at or right of and below pixel (0, 0), in DrawMemImgQuad's corner
// order, whose texels map one to one onto its pixels. Its texture coordinates are in range.
bool IsStraightRectangle(const TriVertex* c) {
  const int x0 = c[0].x;
  const int y0 = c[0].y;
  const int x1 = c[1].x;
  const int y1 = c[2].y;
  return x0 >= 0 && y0 >= 0 && x1 > x0 && y1 > y0 && x1 <= kTriCoordMax && y1 <= kTriCoordMax &&
         c[1].y == y0 && c[2].x == x0 && c[3].x == x1 && c[3].y == y1 && c[1].u - c[0].u == x1 - x0 &&
         c[2].v - c[0].v == y1 - y0 && c[1].v == c[0].v && c[2].u == c[0].u && c[3].u == c[1].u &&
         c[3].v == c[2].v;
}

}  // namespace

void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, int trans,
                        const MEMIMG* blend, std::uint32_t colour) {
  if (dest == nullptr || vertices == nullptr) return;
  PreparedCall* call = CallFor(dest, src, trans, blend);
  if (call == nullptr) return;
  if (src == nullptr) {
    call->context.colour = FlatColour(call->context, call->inputs.destKind, colour);
  } else if (!TextureCoordsInRange(vertices, 3)) {
    return;
  }
  TriangleSetup setup;
  if (SetUpTriangle(&setup, vertices) != 0) return;
  call->kernel(setup, call->context);
}

void DrawMemImgQuad(MEMIMG* dest, const MEMIMG* src, const TriVertex* corners, int trans,
                    const MEMIMG* blend) {
  if (dest == nullptr || src == nullptr || corners == nullptr) return;
  PreparedCall* call = CallFor(dest, src, trans, blend);
  // Each half has a corner of each texture coordinate the other has.
  if (call == nullptr || !TextureCoordsInRange(corners, 4)) return;
  if (call->rectangle != nullptr && IsStraightRectangle(corners) && call->rectangle(corners, call->context))
    return;
  TriangleSetup setup;
  if (SetUpTriangle(&setup, &corners[0]) == 0) call->kernel(setup, call->context);
  if (SetUpTriangle(&setup, &corners[1]) == 0) call->kernel(setup, call->context);
}

}  // namespace gamelib
