// ColorData: building it from masks and pixel formats, comparing, and moving single
// pixels between a layout and 8-bit ARGB.
#include "graphics/color_data.h"

#include <bit>
#include <cstring>

namespace gamelib {
namespace {

// A contiguous run of bits inside the depth, or none at all.
bool DescribeMask(std::uint32_t mask, int depth, int* loc, int* width) {
  if (mask == 0) {
    *loc = 0;
    *width = 0;
    return true;
  }
  if (depth < 32 && (mask >> depth) != 0) return false;
  const int low = std::countr_zero(mask);
  const std::uint32_t run = mask >> low;
  if ((run & (run + 1)) != 0) return false;  // holes in the run
  *loc = low;
  *width = std::popcount(mask);
  return true;
}

}  // namespace

int CreateColorDataFromMasks(ColorData* colorData, int colorBitDepth, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask, std::uint32_t alphaMask) {
  if (colorData == nullptr) return -1;
  std::memset(colorData, 0, sizeof(*colorData));
  if (colorBitDepth != 16 && colorBitDepth != 32) return -1;
  if ((redMask & greenMask) | (redMask & blueMask) | (greenMask & blueMask) |
      (alphaMask & (redMask | greenMask | blueMask))) {
    return -1;
  }
  ColorData c{};
  if (!DescribeMask(redMask, colorBitDepth, &c.redLoc, &c.redWidth) ||
      !DescribeMask(greenMask, colorBitDepth, &c.greenLoc, &c.greenWidth) ||
      !DescribeMask(blueMask, colorBitDepth, &c.blueLoc, &c.blueWidth) ||
      !DescribeMask(alphaMask, colorBitDepth, &c.alphaLoc, &c.alphaWidth)) {
    return -1;
  }
  // Channels wider than 8 bits are not pixels this library moves.
  if (c.redWidth > 8 || c.greenWidth > 8 || c.blueWidth > 8 || c.alphaWidth > 8) return -1;
  c.colorBitDepth = colorBitDepth;
  c.pixelByte = colorBitDepth / 8;
  c.redMask = redMask;
  c.greenMask = greenMask;
  c.blueMask = blueMask;
  c.alphaMask = alphaMask;
  *colorData = c;
  return 0;
}

int CreateFullColorData(ColorData* colorData, int alpha) {
  return CreateColorDataFromMasks(colorData, 32, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0u);
}

int CreateColorDataFromPixelFormat(const DDPIXELFORMAT* format, ColorData* colorData) {
  if (colorData == nullptr) return -1;
  std::memset(colorData, 0, sizeof(*colorData));
  if (format == nullptr) return -1;
  if ((format->dwFlags & (DDPF_PALETTEINDEXED8 | DDPF_FOURCC | DDPF_ZBUFFER | DDPF_LUMINANCE |
                          DDPF_BUMPLUMINANCE | DDPF_BUMPDUDV | DDPF_ALPHA)) != 0) {
    return -1;
  }
  const std::uint32_t alpha = (format->dwFlags & DDPF_ALPHAPIXELS) ? format->dwRGBAlphaBitMask : 0;
  return CreateColorDataFromMasks(colorData, static_cast<int>(format->dwRGBBitCount), format->dwRBitMask,
                                  format->dwGBitMask, format->dwBBitMask, alpha);
}

int ValidateColorData(const ColorData* c) {
  if (c == nullptr) return 0;
  if (c->colorBitDepth == 8) return c->pixelByte == 1 ? 1 : 0;
  ColorData derived{};
  if (CreateColorDataFromMasks(&derived, c->colorBitDepth, c->redMask, c->greenMask, c->blueMask,
                               c->alphaMask) != 0) {
    return 0;
  }
  return derived.pixelByte == c->pixelByte && derived.redLoc == c->redLoc &&
                 derived.greenLoc == c->greenLoc && derived.blueLoc == c->blueLoc &&
                 derived.alphaLoc == c->alphaLoc && derived.redWidth == c->redWidth &&
                 derived.greenWidth == c->greenWidth && derived.blueWidth == c->blueWidth &&
                 derived.alphaWidth == c->alphaWidth
             ? 1
             : 0;
}

int CompareColorData(const ColorData* a, const ColorData* b) {
  if (a == nullptr || b == nullptr) return 0;
  return a->colorBitDepth == b->colorBitDepth && a->pixelByte == b->pixelByte && a->redMask == b->redMask &&
                 a->greenMask == b->greenMask && a->blueMask == b->blueMask && a->alphaMask == b->alphaMask
             ? 1
             : 0;
}

std::uint32_t ExpandChannel(std::uint32_t value, int width) {
  if (width <= 0) return 0;
  if (width >= 8) return (value >> (width - 8)) & 0xFF;
  const std::uint32_t top = value << (8 - width);
  std::uint32_t result = top;
  for (int shift = width; shift < 8; shift += width) result |= top >> shift;
  return result & 0xFF;
}

std::uint32_t DecodePixel(const ColorData& c, std::uint32_t raw) {
  if (c.colorBitDepth == 8) return 0xFF000000u | (c.palette[raw & 0xFF] & 0xFFFFFF);
  const std::uint32_t r = ExpandChannel((raw & c.redMask) >> c.redLoc, c.redWidth);
  const std::uint32_t g = ExpandChannel((raw & c.greenMask) >> c.greenLoc, c.greenWidth);
  const std::uint32_t b = ExpandChannel((raw & c.blueMask) >> c.blueLoc, c.blueWidth);
  const std::uint32_t a =
      c.alphaWidth ? ExpandChannel((raw & c.alphaMask) >> c.alphaLoc, c.alphaWidth) : 0xFF;
  return a << 24 | r << 16 | g << 8 | b;
}

namespace {
std::uint32_t Narrow(std::uint32_t c8, int width, int loc) {
  if (width <= 0) return 0;
  return (c8 >> (8 - width)) << loc;
}
}  // namespace

std::uint32_t EncodePixel(const ColorData& c, std::uint32_t argb) {
  return Narrow((argb >> 16) & 0xFF, c.redWidth, c.redLoc) |
         Narrow((argb >> 8) & 0xFF, c.greenWidth, c.greenLoc) | Narrow(argb & 0xFF, c.blueWidth, c.blueLoc) |
         Narrow(argb >> 24, c.alphaWidth, c.alphaLoc);
}

std::uint32_t GetColorForFormat(const ColorData* colorData, int red, int green, int blue, int alpha) {
  if (colorData == nullptr || colorData->colorBitDepth == 0) return 0;
  auto byte = [](int v) { return static_cast<std::uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  return EncodePixel(*colorData, byte(alpha) << 24 | byte(red) << 16 | byte(green) << 8 | byte(blue));
}

}  // namespace gamelib
