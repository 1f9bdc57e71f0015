// Pixel layouts: ColorData from and to DirectDraw pixel formats, and single pixels
// between a layout and 8-bit ARGB. n-bit channels widen to 8 bits by bit replication
// and narrow by truncation, so that a round trip through any layout is exact.
#pragma once

#include <cstdint>

#include "gamelib/graphics.h"
#include "platform/ddraw.h"

namespace gamelib {

// Describes an RGB pixel format (with or without alpha bits). -1, with `colorData`
// zeroed, for a format that is not 16- or 32-bit RGB with contiguous masks.
int CreateColorDataFromPixelFormat(const DDPIXELFORMAT* format, ColorData* colorData);
// 1 when the fields agree with each other (masks, shifts, widths, bytes), so that
// pixels can be moved with it safely; an 8-bit layout needs only its depth and bytes.
int ValidateColorData(const ColorData* colorData);
// 1 when both describe the same pixel layout, else 0.
int CompareColorData(const ColorData* a, const ColorData* b);

// 8-bit channel from an n-bit value by bit replication.
std::uint32_t ExpandChannel(std::uint32_t value, int width);

// A raw pixel of the layout as 0xAARRGGBB (alpha 255 when the layout has none), and back.
std::uint32_t DecodePixel(const ColorData& colorData, std::uint32_t raw);
std::uint32_t EncodePixel(const ColorData& colorData, std::uint32_t argb);

inline std::uint32_t ReadPixelBytes(const std::uint8_t* p, int bytes) {
  switch (bytes) {
    case 1:
      return p[0];
    case 2:
      return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
    default:
      return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | static_cast<std::uint32_t>(p[3])
                                                                                 << 24;
  }
}
inline void WritePixelBytes(std::uint8_t* p, int bytes, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  if (bytes >= 2) p[1] = static_cast<std::uint8_t>(value >> 8);
  if (bytes >= 4) {
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
  }
}

}  // namespace gamelib
