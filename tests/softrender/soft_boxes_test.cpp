// Software boxes: each pixel of a box blends as a flat triangle over it does, in every
// mode and kind the software renderer draws; exactly the box's pixels are touched, and
// an outline touches each border pixel once.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "softrender/memimg.h"
#include "softrender/soft_target.h"

namespace gamelib {
namespace {

struct Canvas {
  Canvas(int kind, std::uint32_t seed) {
    EXPECT_EQ(CreateMemImg(&m, 64, 48, kind, 0, 0, 0), 0);
    std::uint32_t s = seed * 2654435761u + 7;
    for (int y = 0; y < 48; ++y) {
      for (int i = 0; i < 64 * Bytes(); ++i) {
        s = s * 1664525u + 1013904223u;
        GetMemImgRow(&m, y)[i] = static_cast<std::uint8_t>(s >> 24);
      }
    }
  }
  ~Canvas() { DeleteMemImg(&m); }
  int Bytes() const { return m.shared->kind == kMemImgKind16 ? 2 : 4; }
  std::uint32_t Get(int x, int y) const {
    std::uint32_t v = 0;
    std::memcpy(&v, GetMemImgRow(&m, y) + x * Bytes(), Bytes());
    return v;
  }
  MEMIMG m{};
};

struct Case {
  int mode, parameter, red, green, blue;
};

class SoftBoxTest : public ::testing::TestWithParam<int> {
 protected:
  // A draw screen large enough for every area below, whatever ran before.
  void SetUp() override {
    ResetDrawState();
    SetDrawScreenSize(640, 480);
  }
  void TearDown() override { ResetDrawState(); }
};

TEST_P(SoftBoxTest, ABoxBlendsAsAFlatTriangleOverExactlyItsPixels) {
  const int kind = GetParam();
  const Case cases[] = {
      {BlendNone, 0, 255, 255, 255},      {BlendNone, 0, 128, 200, 30},      {BlendAlpha, 77, 255, 255, 255},
      {BlendAlpha, 255, 90, 255, 10},     {BlendAlpha, 0, 255, 255, 255},    {BlendAdd, 200, 255, 255, 255},
      {BlendAdd, 255, 40, 80, 160},       {BlendSub, 130, 255, 255, 255},    {BlendMul, 9, 255, 255, 255},
      {BlendInverted, 180, 200, 100, 50}, {BlendMulFade, 99, 255, 255, 255}, {7, 255, 255, 255, 255}};
  const std::uint32_t colour = kind == kMemImgKind16 ? 0xA5D3u : 0x00C87F21u;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << k.mode << " parameter " << k.parameter);
    SetDrawBlendMode(k.mode, k.parameter);
    SetDrawBrightness(k.red, k.green, k.blue);
    Canvas box(kind, 5), flat(kind, 5), before(kind, 5);
    SetDrawArea(0, 0, 64, 48);
    ASSERT_EQ(FillMemImgBox(&box.m, 30, 20, 10, 5, colour), 0);
    // The same pixels under one triangle covering them all, the area cut to the box.
    SetDrawArea(10, 5, 30, 20);
    const TriVertex big[3] = {{-100, -100, 0, 0}, {4000, -100, 0, 0}, {-100, 4000, 0, 0}};
    DrawMemImgTriangle(&flat.m, nullptr, big, 0, nullptr, colour);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 64; ++x) {
        const bool inside = x >= 10 && x < 30 && y >= 5 && y < 20;
        ASSERT_EQ(box.Get(x, y), inside ? flat.Get(x, y) : before.Get(x, y)) << x << "," << y;
      }
    }
  }
}

TEST_P(SoftBoxTest, AnOutlineAddsOnceToEachBorderPixelAndTheAreaClipsIt) {
  const int kind = GetParam();
  SetDrawBlendMode(BlendAdd, 255);
  Canvas zero(kind, 1);
  for (int y = 0; y < 48; ++y) std::memset(GetMemImgRow(&zero.m, y), 0, 64 * zero.Bytes());
  const std::uint32_t one = kind == kMemImgKind16 ? 0x0841u : 0x00010101u;  // the smallest step of each field
  SetDrawArea(0, 0, 64, 40);
  ASSERT_EQ(OutlineMemImgBox(&zero.m, 20, 15, 10, 10, one), 0);
  ASSERT_EQ(OutlineMemImgBox(&zero.m, 40, 30, 41, 45, one), 0);  // one column, cut at row 40
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const bool border =
          x >= 10 && x < 20 && y >= 10 && y < 15 && (x == 10 || x == 19 || y == 10 || y == 14);
      const bool column = x == 40 && y >= 30 && y < 40;
      ASSERT_EQ(zero.Get(x, y), border || column ? one : 0u) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SoftBoxTest, ::testing::Values(kMemImgKind16, kMemImgKind32));

}  // namespace
}  // namespace gamelib
