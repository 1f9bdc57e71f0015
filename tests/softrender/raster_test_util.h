// Small helpers for the rasteriser's unit tests: images that clean up after themselves,
// pixel access, and draws of a single pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "gamelib/graphics.h"
#include "graphics/draw_state.h"
#include "softrender/memimg.h"
#include "softrender/triangle.h"

namespace gamelib::rastertest {

class Image {
 public:
  Image(int width, int height, int kind, int palette = 0, int alpha = 0, std::uint32_t key = 0) {
    EXPECT_EQ(0, CreateMemImg(&m, width, height, kind, palette, alpha, key));
  }
  ~Image() { DeleteMemImg(&m); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  int Bytes() const {
    return GetMemImgPixelBytes(m.shared->kind, m.shared->paletteFlag, m.shared->alphaFlag);
  }
  std::uint32_t Get(int x, int y) const {
    const std::uint8_t* p = MemImgRow(&m, y) + x * Bytes();
    std::uint32_t v = 0;
    std::memcpy(&v, p, static_cast<std::size_t>(Bytes()));
    return v;
  }
  void Set(int x, int y, std::uint32_t v) {
    std::memcpy(MemImgRow(&m, y) + x * Bytes(), &v, static_cast<std::size_t>(Bytes()));
  }
  void Fill(std::uint32_t v) {
    for (int y = 0; y < m.height; ++y) {
      for (int x = 0; x < m.width; ++x) Set(x, y, v);
    }
  }
  void SetPalette(int index, std::uint32_t entry) {
    if (m.shared->kind == MemImgKind16) {
      static_cast<std::uint16_t*>(m.shared->palette)[index] = static_cast<std::uint16_t>(entry);
    } else {
      static_cast<std::uint32_t*>(m.shared->palette)[index] = entry;
    }
  }
  int CountNot(std::uint32_t v) const {
    int n = 0;
    for (int y = 0; y < m.height; ++y) {
      for (int x = 0; x < m.width; ++x) n += Get(x, y) != v ? 1 : 0;
    }
    return n;
  }

  MEMIMG m{};
};

// Default draw state with a draw screen (and area) the size of dest.
inline void ResetStateFor(const Image& dest) {
  ResetDrawState();
  SetDrawScreenSize(dest.m.width, dest.m.height);
}

// A triangle whose first row starts at (0, 0) with u = v = 0 there and u rising by one
// per pixel: on a 1 x 1 source only pixel (0, 0) samples inside the source.
inline void DrawCornerTriangle(Image& dest, const Image* src, int trans, const Image* blend,
                               std::uint32_t colour = 0) {
  const TriVertex v[3] = {{0, 0, 0, 0}, {2, 0, 2, 0}, {0, 2, 0, 2}};
  DrawMemImgTriangle(&dest.m, src != nullptr ? &src->m : nullptr, v, trans,
                     blend != nullptr ? &blend->m : nullptr, colour);
}

// Result of drawing one texel over one destination pixel under the current blend mode
// and brightness (set those first). Weight w, when given, comes from a blend image whose
// byte maps to it through the border table.
inline std::uint32_t DrawOneTexel(int kind, int alpha, std::uint32_t dest, std::uint32_t texel, int trans = 0,
                                  int weight = -1, std::uint32_t key = 0) {
  Image d(1, 1, kind);
  Image s(1, 1, kind, 0, alpha, key);
  Image b(1, 1, MemImgKind32);
  d.Set(0, 0, dest);
  s.Set(0, 0, texel);
  if (weight >= 0) {
    InitializeBlendTables();
    BlendBorderTable[7] = static_cast<std::uint8_t>(weight);
    b.Set(0, 0, 7);
  }
  SetDrawScreenSize(1, 1);
  DrawCornerTriangle(d, &s, trans, weight >= 0 ? &b : nullptr);
  return d.Get(0, 0);
}

// The same through a palette source: entry 5 holds the colour, the texel is index 5.
inline std::uint32_t DrawOnePaletteTexel(int kind, std::uint32_t dest, std::uint32_t entry, int trans = 0,
                                         int weight = -1, std::uint32_t key = 300) {
  Image d(1, 1, kind);
  Image s(1, 1, kind, 1, 0, key);
  Image b(1, 1, MemImgKind32);
  d.Set(0, 0, dest);
  s.Set(0, 0, 5);
  s.SetPalette(5, entry);
  if (weight >= 0) {
    InitializeBlendTables();
    BlendBorderTable[7] = static_cast<std::uint8_t>(weight);
    b.Set(0, 0, 7);
  }
  SetDrawScreenSize(1, 1);
  DrawCornerTriangle(d, &s, trans, weight >= 0 ? &b : nullptr);
  return d.Get(0, 0);
}

// One flat-colour pixel.
inline std::uint32_t DrawOneFlat(int kind, std::uint32_t dest, std::uint32_t colour) {
  Image d(1, 1, kind);
  d.Set(0, 0, dest);
  SetDrawScreenSize(1, 1);
  DrawCornerTriangle(d, nullptr, 0, nullptr, colour);
  return d.Get(0, 0);
}

// Tests that touch the global draw state and border table start from the defaults and
// leave them so.
class RasterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeBlendTables();
    ResetDrawState();
    BuildBlendGraphBorderTable(0, 0);  // weight 255 everywhere
  }
  void TearDown() override {
    ResetDrawState();
    BuildBlendGraphBorderTable(0, 0);
  }
};

}  // namespace gamelib::rastertest
