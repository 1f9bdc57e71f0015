// Pixel layouts of the display stand-ins and their conversion to and from 8-bit ARGB.
#include "pixel_format.h"

namespace platform::pixel {

namespace {

struct LayoutInfo {
  Layout layout;
  DWORD flags;
  DWORD bits;
  DWORD alpha, red, green, blue;
};

constexpr LayoutInfo kLayouts[] = {
    {Layout::R5G6B5, DDPF_RGB, 16, 0, 0xF800, 0x07E0, 0x001F},
    {Layout::X1R5G5B5, DDPF_RGB, 16, 0, 0x7C00, 0x03E0, 0x001F},
    {Layout::A1R5G5B5, DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0x8000, 0x7C00, 0x03E0, 0x001F},
    {Layout::A4R4G4B4, DDPF_RGB | DDPF_ALPHAPIXELS, 16, 0xF000, 0x0F00, 0x00F0, 0x000F},
    {Layout::X4R4G4B4, DDPF_RGB, 16, 0, 0x0F00, 0x00F0, 0x000F},
    {Layout::X8R8G8B8, DDPF_RGB, 32, 0, 0xFF0000, 0xFF00, 0xFF},
    {Layout::A8R8G8B8, DDPF_RGB | DDPF_ALPHAPIXELS, 32, 0xFF000000u, 0xFF0000, 0xFF00, 0xFF},
};

// Expands an n-bit channel to 8 bits by repeating its bits.
constexpr std::uint32_t Expand(std::uint32_t value, int bits) {
  switch (bits) {
    case 1:
      return value ? 255 : 0;
    case 4:
      return value * 17;
    case 5:
      return (value << 3) | (value >> 2);
    case 6:
      return (value << 2) | (value >> 4);
    default:
      return value & 0xFF;
  }
}

}  // namespace

Layout Classify(const DDPIXELFORMAT& f) {
  if (f.dwFlags == DDPF_ZBUFFER && f.dwZBufferBitDepth == 16 && f.dwZBitMask == 0xFFFF) return Layout::D16;
  if ((f.dwFlags & ~DDPF_ALPHAPIXELS) != DDPF_RGB) return Layout::Unsupported;
  for (const LayoutInfo& info : kLayouts) {
    DWORD alpha = (f.dwFlags & DDPF_ALPHAPIXELS) ? f.dwRGBAlphaBitMask : 0;
    if (f.dwRGBBitCount == info.bits && f.dwRBitMask == info.red && f.dwGBitMask == info.green &&
        f.dwBBitMask == info.blue && alpha == info.alpha)
      return info.layout;
  }
  return Layout::Unsupported;
}

DDPIXELFORMAT FormatOf(Layout layout) {
  DDPIXELFORMAT f{};
  f.dwSize = sizeof f;
  if (layout == Layout::D16) {
    f.dwFlags = DDPF_ZBUFFER;
    f.dwZBufferBitDepth = 16;
    f.dwZBitMask = 0xFFFF;
    return f;
  }
  for (const LayoutInfo& info : kLayouts) {
    if (info.layout != layout) continue;
    f.dwFlags = info.flags;
    f.dwRGBBitCount = info.bits;
    f.dwRBitMask = info.red;
    f.dwGBitMask = info.green;
    f.dwBBitMask = info.blue;
    f.dwRGBAlphaBitMask = info.alpha;
  }
  return f;
}

int BytesPerPixel(Layout layout) {
  switch (layout) {
    case Layout::Unsupported:
      return 0;
    case Layout::X8R8G8B8:
    case Layout::A8R8G8B8:
      return 4;
    default:
      return 2;
  }
}

bool HasAlpha(Layout layout) {
  return layout == Layout::A1R5G5B5 || layout == Layout::A4R4G4B4 || layout == Layout::A8R8G8B8;
}

bool IsGdiCompatible(Layout layout) {
  switch (layout) {
    case Layout::R5G6B5:
    case Layout::X1R5G5B5:
    case Layout::A1R5G5B5:
    case Layout::X8R8G8B8:
    case Layout::A8R8G8B8:
      return true;
    default:
      return false;
  }
}

std::uint32_t RawToARGB(Layout layout, std::uint32_t v) {
  std::uint32_t a = 255, r, g, b;
  switch (layout) {
    case Layout::R5G6B5:
      r = Expand((v >> 11) & 31, 5), g = Expand((v >> 5) & 63, 6), b = Expand(v & 31, 5);
      break;
    case Layout::X1R5G5B5:
    case Layout::A1R5G5B5:
      if (layout == Layout::A1R5G5B5) a = Expand((v >> 15) & 1, 1);
      r = Expand((v >> 10) & 31, 5), g = Expand((v >> 5) & 31, 5), b = Expand(v & 31, 5);
      break;
    case Layout::A4R4G4B4:
    case Layout::X4R4G4B4:
      if (layout == Layout::A4R4G4B4) a = Expand((v >> 12) & 15, 4);
      r = Expand((v >> 8) & 15, 4), g = Expand((v >> 4) & 15, 4), b = Expand(v & 15, 4);
      break;
    case Layout::X8R8G8B8:
      return 0xFF000000u | (v & 0xFFFFFF);
    case Layout::A8R8G8B8:
      return v;
    default:
      return 0;
  }
  return (a << 24) | (r << 16) | (g << 8) | b;
}

std::uint32_t ARGBToRaw(Layout layout, std::uint32_t c) {
  std::uint32_t a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  switch (layout) {
    case Layout::R5G6B5:
      return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case Layout::X1R5G5B5:
      return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case Layout::A1R5G5B5:
      return ((a >> 7) << 15) | ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case Layout::A4R4G4B4:
      return ((a >> 4) << 12) | ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
    case Layout::X4R4G4B4:
      return ((r >> 4) << 8) | ((g >> 4) << 4) | (b >> 4);
    case Layout::X8R8G8B8:
      return c & 0xFFFFFF;
    case Layout::A8R8G8B8:
      return c;
    default:
      return 0;
  }
}

}  // namespace platform::pixel
