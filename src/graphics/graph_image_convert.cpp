// The converting copy. Equal layouts copy rows as they are; everything else goes pixel
// by pixel through 8-bit ARGB with per-channel widening tables.
#include "graphics/graph_image_convert.h"

#include <cstring>
#include <memory>

#include "graphics/color_data.h"

namespace gamelib {
namespace {

bool Movable(const ColorData* c, bool source) {
  if (c == nullptr) return false;
  if (c->colorBitDepth == 16 || c->colorBitDepth == 32) return c->pixelByte == c->colorBitDepth / 8;
  return source && c->colorBitDepth == 8 && c->pixelByte == 1;
}

// Widening of each channel of one layout, built once per copy.
struct Widener {
  explicit Widener(const ColorData& c) : c_(c) {
    if (c.colorBitDepth == 8) return;
    Fill(red_, c.redWidth);
    Fill(green_, c.greenWidth);
    Fill(blue_, c.blueWidth);
    Fill(alpha_, c.alphaWidth);
  }
  std::uint32_t Decode(std::uint32_t raw) const {
    if (c_.colorBitDepth == 8) return 0xFF000000u | (c_.palette[raw & 0xFF] & 0xFFFFFF);
    const std::uint32_t a = c_.alphaWidth ? alpha_[(raw & c_.alphaMask) >> c_.alphaLoc] : 0xFFu;
    return a << 24 | red_[(raw & c_.redMask) >> c_.redLoc] << 16 |
           green_[(raw & c_.greenMask) >> c_.greenLoc] << 8 | blue_[(raw & c_.blueMask) >> c_.blueLoc];
  }
  bool HasAlpha() const { return c_.alphaWidth > 0; }

 private:
  static void Fill(std::uint32_t* table, int width) {
    for (std::uint32_t v = 0; v < (1u << width); ++v) table[v] = ExpandChannel(v, width);
  }
  const ColorData& c_;
  std::uint32_t red_[256] = {}, green_[256] = {}, blue_[256] = {}, alpha_[256] = {};
};

}  // namespace

int ConvertGraphImageBlt(void* dest, int destPitch, const ColorData* destFormat, const void* source,
                         int sourcePitch, const ColorData* sourceFormat, const void* alpha, int alphaPitch,
                         const ColorData* alphaFormat, int destX, int destY, const RECT* sourceRect,
                         int flags, std::uint32_t transColor) {
  if (dest == nullptr || source == nullptr || sourceRect == nullptr) return -1;
  if (!Movable(destFormat, false) || !Movable(sourceFormat, true)) return -1;
  if (alpha != nullptr && !Movable(alphaFormat, true)) return -1;
  const int width = sourceRect->right - sourceRect->left;
  const int height = sourceRect->bottom - sourceRect->top;
  if (width <= 0 || height <= 0) return 0;
  if (sourceRect->left < 0 || sourceRect->top < 0 || destX < 0 || destY < 0) return -1;

  const int dBytes = destFormat->pixelByte;
  const int sBytes = sourceFormat->pixelByte;
  auto* dRow = static_cast<std::uint8_t*>(dest) + static_cast<std::ptrdiff_t>(destY) * destPitch +
               static_cast<std::ptrdiff_t>(destX) * dBytes;
  auto* sRow = static_cast<const std::uint8_t*>(source) +
               static_cast<std::ptrdiff_t>(sourceRect->top) * sourcePitch +
               static_cast<std::ptrdiff_t>(sourceRect->left) * sBytes;
  const bool trans = (flags & kConvertTransAlpha) != 0 && destFormat->alphaWidth > 0;

  if (alpha == nullptr && !trans && CompareColorData(destFormat, sourceFormat)) {
    // Bits no channel uses are written as 0: colour keys compare whole texels.
    const std::uint32_t used =
        destFormat->redMask | destFormat->greenMask | destFormat->blueMask | destFormat->alphaMask;
    const std::uint32_t full = dBytes == 4 ? 0xFFFFFFFFu : 0xFFFFu;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * dBytes;
    if (used == full && destPitch == sourcePitch && static_cast<std::size_t>(destPitch) == rowBytes) {
      // One block: a copy per row runs several times slower when both sides are page
      // aligned.
      std::memcpy(dRow, sRow, rowBytes * height);
      return 0;
    }
    for (int y = 0; y < height; ++y, dRow += destPitch, sRow += sourcePitch) {
      if (used == full) {
        std::memcpy(dRow, sRow, rowBytes);
      } else if (dBytes == 4) {
        // Eight pixels a step, which the compiler turns into vector operations.
        int x = 0;
        for (; x + 8 <= width; x += 8) {
          std::uint32_t v[8];
          std::memcpy(v, sRow + x * 4, sizeof v);
          for (std::uint32_t& p : v) p &= used;
          std::memcpy(dRow + x * 4, v, sizeof v);
        }
        for (; x < width; ++x) {
          std::uint32_t v;
          std::memcpy(&v, sRow + x * 4, 4);
          v &= used;
          std::memcpy(dRow + x * 4, &v, 4);
        }
      } else {
        for (int x = 0; x < width; ++x) {
          std::uint16_t v;
          std::memcpy(&v, sRow + x * 2, 2);
          v = static_cast<std::uint16_t>(v & used);
          std::memcpy(dRow + x * 2, &v, 2);
        }
      }
    }
    return 0;
  }

  // The same colour bits on both sides (alpha aside): colours copy as they are and only
  // the alpha is made.
  if (alpha == nullptr && sBytes == dBytes && sourceFormat->colorBitDepth != 8 &&
      sourceFormat->redMask == destFormat->redMask && sourceFormat->greenMask == destFormat->greenMask &&
      sourceFormat->blueMask == destFormat->blueMask &&
      (sourceFormat->alphaMask == 0 || sourceFormat->alphaMask == destFormat->alphaMask)) {
    const std::uint32_t colorBits = destFormat->redMask | destFormat->greenMask | destFormat->blueMask;
    const bool sourceAlpha = sourceFormat->alphaMask != 0;
    const std::uint32_t keep = colorBits | (sourceAlpha ? destFormat->alphaMask : 0);
    const std::uint32_t add = !sourceAlpha && (flags & kConvertOpaqueAlpha) ? destFormat->alphaMask : 0;
    const std::uint32_t keyRaw = EncodePixel(*destFormat, transColor & 0xFFFFFF) & colorBits;
    const bool keyed = trans && (DecodePixel(*destFormat, keyRaw) & 0xFFFFFF) == (transColor & 0xFFFFFF);
    for (int y = 0; y < height; ++y, dRow += destPitch, sRow += sourcePitch) {
      const std::uint8_t* sp = sRow;
      std::uint8_t* dp = dRow;
      if (dBytes == 4 && !keyed) {
        // Kept free of branches so that it vectorises.
        for (int x = 0; x < width; ++x) {
          std::uint32_t v;
          std::memcpy(&v, sp + 4 * x, 4);
          v = (v & keep) | add;
          std::memcpy(dp + 4 * x, &v, 4);
        }
        continue;
      }
      if (dBytes == 4) {
        for (int x = 0; x < width; ++x, sp += 4, dp += 4) {
          std::uint32_t v;
          std::memcpy(&v, sp, 4);
          v = (v & keep) | add;
          if (keyed && (v & colorBits) == keyRaw) v &= colorBits;
          std::memcpy(dp, &v, 4);
        }
      } else {
        for (int x = 0; x < width; ++x, sp += 2, dp += 2) {
          std::uint16_t h;
          std::memcpy(&h, sp, 2);
          std::uint32_t v = (h & keep) | add;
          if (keyed && (v & colorBits) == keyRaw) v &= colorBits;
          h = static_cast<std::uint16_t>(v);
          std::memcpy(dp, &h, 2);
        }
      }
    }
    return 0;
  }

  const Widener widen(*sourceFormat);
  const bool opaque = (flags & kConvertOpaqueAlpha) != 0 && !widen.HasAlpha() && alpha == nullptr;
  std::uint32_t alphaSlot = 0xFF000000u;  // what a pixel without alpha carries
  if (!opaque && !widen.HasAlpha() && alpha == nullptr) alphaSlot = 0;
  const std::uint8_t* aRow = nullptr;
  std::unique_ptr<Widener> alphaWiden;
  if (alpha != nullptr) {
    aRow = static_cast<const std::uint8_t*>(alpha) +
           static_cast<std::ptrdiff_t>(sourceRect->top) * alphaPitch +
           static_cast<std::ptrdiff_t>(sourceRect->left) * alphaFormat->pixelByte;
    alphaWiden = std::make_unique<Widener>(*alphaFormat);
  }
  const std::uint32_t key = transColor & 0xFFFFFF;
  for (int y = 0; y < height; ++y, dRow += destPitch, sRow += sourcePitch) {
    const std::uint8_t* s = sRow;
    std::uint8_t* d = dRow;
    const std::uint8_t* a = aRow;
    for (int x = 0; x < width; ++x, s += sBytes, d += dBytes) {
      std::uint32_t argb = widen.Decode(ReadPixelBytes(s, sBytes));
      if (a != nullptr) {
        const std::uint32_t alphaArgb = alphaWiden->Decode(ReadPixelBytes(a, alphaFormat->pixelByte));
        argb = (argb & 0xFFFFFF) | (alphaArgb & 0xFF) << 24;
        a += alphaFormat->pixelByte;
      } else if (!widen.HasAlpha()) {
        argb = (argb & 0xFFFFFF) | alphaSlot;
      }
      if (trans && (argb & 0xFFFFFF) == key) argb &= 0xFFFFFF;
      WritePixelBytes(d, dBytes, EncodePixel(*destFormat, argb));
    }
    if (aRow != nullptr) aRow += alphaPitch;
  }
  return 0;
}

}  // namespace gamelib
