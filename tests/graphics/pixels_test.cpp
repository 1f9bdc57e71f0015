// Pixel layouts, the converting copy, rectangle clipping, matrices and lights.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "gamelib/core.h"
#include "graphics/color_data.h"
#include "graphics/graph_image_convert.h"
#include "graphics/graphics_math.h"
#include "graphics/lights.h"
#include "platform/sim.h"

namespace gamelib {
namespace {

TEST(ColorDataTest, LayoutsComeFromContiguousMasksOnly) {
  struct Row {
    int depth;
    std::uint32_t r, g, b, a;
    int result;
    std::array<int, 8> widthsAndLocs;  // r g b a widths, then r g b a shifts
  };
  const Row rows[] = {
      {16, 0xF800, 0x07E0, 0x001F, 0, 0, {5, 6, 5, 0, 11, 5, 0, 0}},
      {16, 0x0F00, 0x00F0, 0x000F, 0xF000, 0, {4, 4, 4, 4, 8, 4, 0, 12}},
      {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0, {8, 8, 8, 8, 16, 8, 0, 24}},
      {16, 0xF0F0, 0x0F00, 0x000F, 0, -1, {}},      // a hole
      {16, 0xF800, 0x0FE0, 0x001F, 0, -1, {}},      // overlapping
      {16, 0x1F0000, 0x07E0, 0x001F, 0, -1, {}},    // past the depth
      {32, 0x3FF00000, 0xFFC00, 0x3FF, 0, -1, {}},  // ten-bit channels
      {24, 0xFF0000, 0xFF00, 0xFF, 0, -1, {}},      // depth
  };
  for (const Row& row : rows) {
    ColorData c;
    std::memset(&c, 0x5A, sizeof(c));
    EXPECT_EQ(CreateColorDataFromMasks(&c, row.depth, row.r, row.g, row.b, row.a), row.result);
    if (row.result == 0) {
      EXPECT_EQ((std::array<int, 8>{c.redWidth, c.greenWidth, c.blueWidth, c.alphaWidth, c.redLoc, c.greenLoc,
                                    c.blueLoc, c.alphaLoc}),
                row.widthsAndLocs);
      EXPECT_EQ(ValidateColorData(&c), 1);
    } else {
      EXPECT_EQ(c.colorBitDepth, 0);
    }
  }
  // A hand-made layout whose shifts disagree with its masks is not used.
  ColorData bad{};
  CreateColorDataFromMasks(&bad, 16, 0xF800, 0x07E0, 0x001F, 0);
  bad.redLoc = 30;
  EXPECT_EQ(ValidateColorData(&bad), 0);
  DDPIXELFORMAT palette = sim::MakePixelFormat(sim::PixelFormatName::P8);
  EXPECT_EQ(CreateColorDataFromPixelFormat(&palette, &bad), -1);
}

TEST(ColorDataTest, ChannelsWidenByRepeatingTheirBits) {
  ColorData c{};
  CreateColorDataFromMasks(&c, 16, 0xF800, 0x07E0, 0x001F, 0);
  EXPECT_EQ(DecodePixel(c, 0xFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(DecodePixel(c, 0x0000), 0xFF000000u);
  EXPECT_EQ(DecodePixel(c, 25u << 11), 0xFFCE0000u);  // 25 -> 206
  for (std::uint32_t raw = 0; raw < 0x10000; raw += 7) EXPECT_EQ(EncodePixel(c, DecodePixel(c, raw)), raw);
  EXPECT_EQ(GetColorForFormat(&c, 300, -4, 255, 0), 0xF81Fu);
}

struct Image {
  ColorData format{};
  std::vector<std::uint8_t> pixels;
  int pitch = 0;
};

TEST(ConvertTest, PaletteSourcesAlphaImagesAndFlagsConvertAsAsked) {
  Image source;
  source.format.colorBitDepth = 8;
  source.format.pixelByte = 1;
  source.format.palette[1] = 0x123456;
  source.format.palette[2] = 0x000000;
  source.pitch = 3;
  source.pixels = {1, 2, 1, 2, 1, 2};
  Image alpha;
  CreateFullColorData(&alpha.format, 0);
  alpha.pitch = 12;
  alpha.pixels = std::vector<std::uint8_t>(24, 0);
  alpha.pixels[0] = 0x80;  // blue of the first pixel
  ColorData argb{};
  CreateFullColorData(&argb, 1);
  std::vector<std::uint32_t> out(6, 0xDEADBEEF);
  const RECT all{0, 0, 3, 2};
  auto run = [&](const void* a, int flags) {
    std::fill(out.begin(), out.end(), 0xDEADBEEF);
    return ConvertGraphImageBlt(out.data(), 12, &argb, source.pixels.data(), source.pitch, &source.format, a,
                                alpha.pitch, &alpha.format, 0, 0, &all, flags, 0x000000);
  };
  ASSERT_EQ(run(nullptr, kConvertOpaqueAlpha), 0);
  EXPECT_EQ(out[0], 0xFF123456u);
  ASSERT_EQ(run(nullptr, kConvertOpaqueAlpha | kConvertTransAlpha), 0);
  EXPECT_EQ(out[1], 0x00000000u);  // the transparent colour
  EXPECT_EQ(out[2], 0xFF123456u);
  ASSERT_EQ(run(alpha.pixels.data(), kConvertOpaqueAlpha), 0);
  EXPECT_EQ(out[0], 0x80123456u);
  EXPECT_EQ(out[1], 0x00000000u);
  // Into a rectangle at an offset, the rest untouched.
  const RECT one{2, 1, 3, 2};
  ASSERT_EQ(ConvertGraphImageBlt(out.data(), 12, &argb, source.pixels.data(), source.pitch, &source.format,
                                 nullptr, 0, nullptr, 2, 0, &one, kConvertOpaqueAlpha, 0),
            0);
  EXPECT_EQ(out[2], 0xFF000000u);
  // Layouts without depth or with unsupported sizes move nothing.
  ColorData empty{};
  EXPECT_EQ(ConvertGraphImageBlt(out.data(), 12, &empty, source.pixels.data(), 3, &source.format, nullptr, 0,
                                 nullptr, 0, 0, &all, 0, 0),
            -1);
  EXPECT_EQ(ConvertGraphImageBlt(out.data(), 12, &source.format, source.pixels.data(), 3, &source.format,
                                 nullptr, 0, nullptr, 0, 0, &all, 0, 0),
            -1);
}

// Equal layouts with bits no channel uses copy with those bits cleared, eight pixels a
// step and the rest one by one, at every width and offset.
TEST(ConvertTest, EqualLayoutsClearTheUnusedBitsAtEveryWidth) {
  ColorData x8{};
  CreateFullColorData(&x8, 0);
  std::vector<std::uint32_t> source(40 * 3);
  std::uint32_t seed = 99;
  for (std::uint32_t& v : source) v = seed = seed * 1664525u + 1013904223u;
  for (int width = 1; width <= 21; ++width) {
    std::vector<std::uint32_t> out(40 * 3, 0xDEADBEEF);
    const RECT rect{3, 0, 3 + width, 3};
    ASSERT_EQ(ConvertGraphImageBlt(out.data(), 160, &x8, source.data(), 160, &x8, nullptr, 0, nullptr, 5, 0,
                                   &rect, 0, 0),
              0);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 40; ++x) {
        const bool inside = x >= 5 && x < 5 + width;
        EXPECT_EQ(out[y * 40 + x], inside ? source[y * 40 + x - 2] & 0xFFFFFFu : 0xDEADBEEFu)
            << width << ": " << x << "," << y;
      }
  }
}

TEST(GeometryTest, ClipRectKeepsRectanglesInsideTheClip) {
  const RECT clip{10, 10, 100, 50};
  const std::array<RECT, 2> rows[] = {
      {RECT{20, 20, 30, 30}, RECT{20, 20, 30, 30}},   {RECT{0, 0, 200, 200}, RECT{10, 10, 100, 50}},
      {RECT{40, 40, 20, 20}, RECT{40, 40, 40, 40}},   {RECT{200, 0, 300, 5}, RECT{100, 10, 100, 10}},
      {RECT{-50, 60, -10, 90}, RECT{10, 50, 10, 50}},
  };
  for (const auto& [in, out] : rows) {
    RECT r = in;
    EXPECT_EQ(ClipRect(&r, &clip), 0);
    EXPECT_EQ((std::array<LONG, 4>{r.left, r.top, r.right, r.bottom}),
              (std::array<LONG, 4>{out.left, out.top, out.right, out.bottom}));
  }
}

TEST(GeometryTest, MatricesMultiplyInPlace) {
  float a[4][4] = {{1, 2, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {3, 4, 5, 1}};
  float b[4][4] = {{2, 0, 0, 0}, {0, 2, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 1}};
  MultiplyMatrix(a, a, b);
  EXPECT_EQ(a[0][1], 4.0f);
  EXPECT_EQ(a[3][2], 10.0f);
  EXPECT_EQ(a[3][3], 1.0f);
  EXPECT_EQ(DotProduct3({1, 2, 3}, {4, 5, 6}), 32.0f);
}

TEST(LightTest, DeletingALightFreesItsSlotOnce) {
  const std::size_t before = GetLightTable()->count;
  auto* light = static_cast<LightRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(LightRecord)));
  const int handle = AddHandleRecord(GetLightTable(), FindFreeHandleSlot(GetLightTable()), light);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(GetLightRecord(handle), light);
  EXPECT_EQ(DeleteLight(handle), 0);
  EXPECT_EQ(DeleteLight(handle), -1);
  EXPECT_EQ(DeleteLight(-1), -1);
  EXPECT_EQ(static_cast<std::size_t>(GetLightTable()->count), before);
  EXPECT_EQ(GetLightTable()->highWater, 0);
}

}  // namespace
}  // namespace gamelib
