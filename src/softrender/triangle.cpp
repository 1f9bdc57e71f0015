#include "softrender/triangle.h"

#include <algorithm>

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

void DrawMemImgTriangle(MEMIMG* dest, const MEMIMG* src, const TriVertex* vertices, int trans,
                        const MEMIMG* blend, std::uint32_t colour) {
  if (dest == nullptr || vertices == nullptr) return;
  const MemImgSharedRecord* destRecord = dest->shared;
  if (destRecord == nullptr || dest->pixels == nullptr) return;
  if (src != nullptr &&
      (src->shared == nullptr || src->pixels == nullptr || src->shared->kind != destRecord->kind)) {
    return;
  }
  if (destRecord->paletteFlag != 0 || destRecord->alphaFlag != 0) return;
  const int kind = destRecord->kind;
  if (kind != kMemImgKind16 && kind != kMemImgKind32) return;
  const int destBytes = kind == kMemImgKind16 ? 2 : 4;
  if (dest->width < 1 || dest->height < 1 ||
      static_cast<std::int64_t>(destRecord->pitch) < static_cast<std::int64_t>(dest->width) * destBytes) {
    return;
  }

  // The draw state, read once. The area never reaches outside the destination.
  const DrawState& state = GetDrawState();
  const int parameter = std::clamp(state.blendParameter, 0, 255);
  const std::uint32_t brightness = state.brightness;
  // Filled field by field: zeroing the whole block costs more than a small triangle's pixels.
  KernelContext k;
  k.srcPixels = nullptr;
  k.srcPitch = 0;
  k.texWidth = 0;
  k.texHeight = 0;
  k.colorKey = 0;
  k.palette = nullptr;
  k.blendPixels = nullptr;
  k.blendPitch = 0;
  k.colour = 0;
  k.areaLeft = std::max(state.drawAreaLeft, 0);
  k.areaTop = std::max(state.drawAreaTop, 0);
  k.areaRight = std::min(state.drawAreaRight, dest->width);
  k.areaBottom = std::min(state.drawAreaBottom, dest->height);
  if (k.areaLeft >= k.areaRight || k.areaTop >= k.areaBottom) return;

  const bool paletteSource = src != nullptr && src->shared->paletteFlag != 0;
  const int mode = raster::KernelMode(state.blendMode, parameter, paletteSource);
  if (mode < 0) return;

  InitializeBlendTables();
  k.destPixels = dest->pixels;
  k.destPitch = destRecord->pitch;
  k.parameter = static_cast<std::uint32_t>(parameter);
  k.brightBlue = BrightnessTable[BrightnessBlue(brightness)];
  k.brightGreen = BrightnessTable[BrightnessGreen(brightness)];
  k.brightRed = BrightnessTable[BrightnessRed(brightness)];
  k.brightParam = BrightnessTable[parameter];
  k.scale = SignedScaleTable[parameter] + 255;
  k.border = BlendBorderTable;
  const bool white = IsBrightnessWhite(brightness);
  const KernelTable& table = ActiveTable();
  const KernelTable* tableForCall = &table;

  KernelKey key{kind, KernelSource::Flat, mode, false, white, false, trans != 0};
  if (src == nullptr) {
    // Every flat colour goes through the brightness tables.
    if (kind == kMemImgKind16) {
      const std::uint32_t c = colour & 0xFFFF;  // upper bits are outside a 5-6-5 value
      k.colour = static_cast<std::uint32_t>(k.brightRed[c >> 11]) << 11 |
                 static_cast<std::uint32_t>(k.brightGreen[(c >> 5) & 0x3F]) << 5 |
                 static_cast<std::uint32_t>(k.brightBlue[c & 0x1F]);
    } else {
      k.colour = static_cast<std::uint32_t>(k.brightBlue[colour & 0xFF]) |
                 static_cast<std::uint32_t>(k.brightGreen[(colour >> 8) & 0xFF]) << 8 |
                 static_cast<std::uint32_t>(k.brightRed[(colour >> 16) & 0xFF]) << 16 |
                 (colour & 0xFF000000u);
    }
  } else {
    const MemImgSharedRecord* srcRecord = src->shared;
    for (int i = 0; i < 3; ++i) {
      if (!InCoordRange(vertices[i].u) || !InCoordRange(vertices[i].v)) return;
    }
    // Sides up to 8192 keep every in-bounds coordinate below 2^31.
    if (src->width < 1 || src->height < 1 || src->width > kMemImgMaxSourceSide ||
        src->height > kMemImgMaxSourceSide) {
      return;
    }
    const int srcBytes = GetMemImgPixelBytes(kind, srcRecord->paletteFlag, srcRecord->alphaFlag);
    if (static_cast<std::int64_t>(srcRecord->pitch) < static_cast<std::int64_t>(src->width) * srcBytes)
      return;
    if (paletteSource && srcRecord->palette == nullptr) return;
    int texWidth = src->width;
    int texHeight = src->height;
    if (blend != nullptr) {
      if (blend->shared == nullptr || blend->pixels == nullptr || blend->width < 1 || blend->height < 1 ||
          blend->shared->pitch < blend->width) {
        return;
      }
      // The blend image is sampled at the texel position: never past its own edges.
      texWidth = std::min(texWidth, blend->width);
      texHeight = std::min(texHeight, blend->height);
      k.blendPixels = blend->pixels;
      k.blendPitch = blend->shared->pitch;
    }
    k.srcPixels = src->pixels;
    k.srcPitch = srcRecord->pitch;
    k.texWidth = static_cast<std::uint32_t>(texWidth) << kFixed18Shift;
    k.texHeight = static_cast<std::uint32_t>(texHeight) << kFixed18Shift;
    k.colorKey = srcRecord->colorKey;
    k.palette = srcRecord->palette;
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
    key.alpha = srcRecord->alphaFlag != 0;
  }

  TriangleSetup setup;
  if (SetUpTriangle(&setup, vertices) != 0) return;
  (*tableForCall)[raster::KernelIndex(key)](setup, k);
}

}  // namespace gamelib
