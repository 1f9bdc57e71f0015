// The pixel layouts the display stand-ins create, read and write, and the one rule by
// which a pixel becomes 8-bit ARGB and back: n-bit channels expand by bit replication
// (formats without alpha read alpha 255) and truncate on write, so that a round trip
// through any layout is exact.
#pragma once

#include <cstdint>

#include "platform/ddraw.h"

namespace platform::pixel {

enum class Layout {
  Unsupported,
  R5G6B5,
  X1R5G5B5,
  A1R5G5B5,
  A4R4G4B4,
  X4R4G4B4,
  X8R8G8B8,
  A8R8G8B8,
  D16,
};

// The layout of a pixel format, by its flags, depth and masks; Unsupported for
// anything the stand-ins cannot create (palettes, luminance, FourCC, 24-bit, stencil).
Layout Classify(const DDPIXELFORMAT& format);
DDPIXELFORMAT FormatOf(Layout layout);
int BytesPerPixel(Layout layout);  // 0 for Unsupported
bool HasAlpha(Layout layout);
// GDI takes 5-6-5, 5-5-5 and 8-8-8 colour layouts (alpha bits ignored).
bool IsGdiCompatible(Layout layout);

// The raw pixel value (2 or 4 bytes, little-endian).
inline std::uint32_t ReadRaw(Layout layout, const std::uint8_t* p) {
  if (BytesPerPixel(layout) == 2) return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
  return static_cast<std::uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) |
         (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteRaw(Layout layout, std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  if (BytesPerPixel(layout) == 4) {
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
  }
}

// Raw value <-> 0xAARRGGBB.
std::uint32_t RawToARGB(Layout layout, std::uint32_t raw);
std::uint32_t ARGBToRaw(Layout layout, std::uint32_t argb);

inline std::uint32_t ReadARGB(Layout layout, const std::uint8_t* p) {
  return RawToARGB(layout, ReadRaw(layout, p));
}
inline void WriteARGB(Layout layout, std::uint8_t* p, std::uint32_t argb) {
  WriteRaw(layout, p, ARGBToRaw(layout, argb));
}

}  // namespace platform::pixel
