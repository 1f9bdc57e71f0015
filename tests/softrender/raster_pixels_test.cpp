// What one pixel becomes under each blend mode: flat colour, textured onto 16-bit and
// 32-bit destinations, and palette sources; plus the guard-bit operations on their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>
#include <algorithm>

#include "raster_test_util.h"

namespace gamelib::rastertest {
namespace {

constexpr std::uint32_t Bgr(std::uint32_t blue, std::uint32_t green, std::uint32_t red,
                            std::uint32_t top = 0) {
  return top << 24 | red << 16 | green << 8 | blue;
}

// ---- Guard-bit operations ------------------------------------------------------------

TEST(PackedOps, SubtractingNothingOnlyMovesTheGuardBits) {
  for (std::uint32_t d = 0; d < 0x10000; ++d) {
    ASSERT_EQ((d & 0xFFDF) | 0x0800, PackedSub16(d, 0)) << d;
  }
  std::mt19937 rng(1);
  for (int i = 0; i < 100000; ++i) {
    const std::uint32_t d = rng();
    ASSERT_EQ((d | 0x00010100) & 0x00FFFFFF, PackedSub32(d, 0));
  }
}

TEST(PackedOps, ChannelsFollowTheirGuardBitDescription) {
  // 16-bit: blue saturates exactly, green and red add their upper bits, low bits OR-ed.
  for (std::uint32_t d = 0; d < 0x10000; d += 7) {
    for (std::uint32_t s = 0; s < 0x10000; s += 13) {
      const int dB = d & 31, sB = s & 31, dG = (d >> 5) & 63, sG = (s >> 5) & 63, dR = d >> 11, sR = s >> 11;
      const int blue = std::min(dB + sB, 31);
      const int carryB = dB + sB > 31;
      const int gu = (dG >> 1) + (sG >> 1);
      const int green = gu >= 32 ? 62 | ((dG | sG) & 1) | carryB : (gu << 1) | ((dG | sG) & 1) | carryB;
      const int carryG = gu >= 32;
      const int ru = (dR >> 1) + (sR >> 1);
      const int red = ru >= 16 ? 31 : (ru << 1) | ((dR | sR) & 1) | carryG;
      ASSERT_EQ(static_cast<std::uint32_t>(red << 11 | green << 5 | blue), PackedAdd16(d, s))
          << d << " " << s;

      const int subBlue = std::max(dB - sB, 0);
      const int subGreen = (dG >> 1) < (sG >> 1) ? 0 : ((dG >> 1) - (sG >> 1)) << 1;
      const int greenBorrow = (dG >> 1) < (sG >> 1);
      const int subRed = (dR >> 1) < (sR >> 1) ? 0 : (((dR >> 1) - (sR >> 1)) << 1) | (greenBorrow ? 0 : 1);
      ASSERT_EQ(static_cast<std::uint32_t>(subRed << 11 | subGreen << 5 | subBlue), PackedSub16(d, s));
    }
  }
  // 32-bit, with the source's top byte 0 as every kernel builds it.
  std::mt19937 rng(2);
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t d = rng();
    const std::uint32_t s = rng() & 0x00FFFFFF;
    std::uint32_t add = 0, sub = 0;
    int carry = 0, borrow = 0;
    for (int ch = 0; ch < 3; ++ch) {
      const int dc = (d >> (8 * ch)) & 255, sc = (s >> (8 * ch)) & 255;
      int a, b;
      if (ch == 0) {
        a = std::min(dc + sc, 255);
        b = std::max(dc - sc, 0);
        carry = dc + sc > 255;
        borrow = dc < sc;
      } else {
        const int up = (dc >> 1) + (sc >> 1);
        a = up >= 128 ? 255 : (up << 1) | ((dc | sc) & 1) | carry;
        carry = up >= 128;
        const bool under = (dc >> 1) < (sc >> 1);
        b = under ? 0 : (((dc >> 1) - (sc >> 1)) << 1) | (borrow ? 0 : 1);
        borrow = under;
      }
      add |= static_cast<std::uint32_t>(a) << (8 * ch);
      sub |= static_cast<std::uint32_t>(b) << (8 * ch);
    }
    add |= static_cast<std::uint32_t>(carry) << 24;
    ASSERT_EQ(add, PackedAdd32(d, s));
    ASSERT_EQ(sub, PackedSub32(d, s));
  }
}

TEST(BlendTables, HoldTruncatedQuotients) {
  InitializeBlendTables();
  EXPECT_EQ(15, BrightnessTable[128][31]);
  EXPECT_EQ(255, BrightnessTable[255][255]);
  EXPECT_EQ(0, BrightnessTable[0][200]);
  EXPECT_EQ(-255, SignedScaleTable[255][0]);
  EXPECT_EQ(0, SignedScaleTable[128][255 - 1]);  // -128/255 truncates toward zero
  EXPECT_EQ(-63, SignedScaleTable[128][255 - 126]);
  EXPECT_EQ(63, SignedScaleTable[128][255 + 126]);
  for (int c = 0; c < 256; ++c) {
    for (int v = 0; v < 256; ++v) ASSERT_EQ(v * c / 255, BrightnessTable[c][v]);
  }
}

// ---- Flat colour -----------------------------------------------------------------------

using FlatPixels = RasterTest;

TEST_F(FlatPixels, AddAndSubtractKeepTheirGuardBitResults) {
  SetDrawBlendMode(BlendAdd, 255);
  EXPECT_EQ(0x003Fu, DrawOneFlat(MemImgKind16, 0x001F, 0x0001));
  EXPECT_EQ(0x0FC0u, DrawOneFlat(MemImgKind16, 0x07C0, 0x0040));
  EXPECT_EQ(0xFFFFu, DrawOneFlat(MemImgKind16, 0xFFFF, 0x1234));
  SetDrawBlendMode(BlendSub, 255);
  EXPECT_EQ(0x0800u, DrawOneFlat(MemImgKind16, 0x0000, 0));
  EXPECT_EQ(0x0800u, DrawOneFlat(MemImgKind16, 0x0020, 0));
  EXPECT_EQ(0x00010100u, DrawOneFlat(MemImgKind32, 0x00000000, 0));
}

TEST_F(FlatPixels, TopByteOfA32BitDestination) {
  const std::uint32_t d = 0x7F102030;
  SetDrawBlendMode(BlendNone, 0);
  EXPECT_EQ(0xAB405060u, DrawOneFlat(MemImgKind32, d, 0xAB405060));
  SetDrawBlendMode(BlendSub, 255);
  EXPECT_EQ(0u, DrawOneFlat(MemImgKind32, d, 0xAB405060) >> 24);
  for (int mode : {BlendAlpha, BlendMul, BlendInverted, BlendMulFade}) {
    SetDrawBlendMode(mode, 100);
    EXPECT_EQ(0x7Fu, DrawOneFlat(MemImgKind32, d, 0xAB405060) >> 24) << mode;
  }
  SetDrawBlendMode(BlendAdd, 255);
  EXPECT_EQ(1u, DrawOneFlat(MemImgKind32, 0x00FF0000, 0x00020000) >> 24);
}

TEST_F(FlatPixels, BrightnessAppliesThroughTheTables) {
  SetDrawBrightness(128, 255, 255);
  EXPECT_EQ(0x00800000u, DrawOneFlat(MemImgKind32, 0, 0x00FF0000));
  EXPECT_EQ(0x7800u, DrawOneFlat(MemImgKind16, 0, 0xF800));
}

TEST_F(FlatPixels, OpaqueAlphaIsACopyAndMultiplyIgnoresTheParameter) {
  for (int kind : {MemImgKind16, MemImgKind32}) {
    const std::uint32_t d = kind == MemImgKind16 ? 0x5A5A : 0x11223344;
    const std::uint32_t c = kind == MemImgKind16 ? 0xA5C3 : 0x99AABBCC;
    SetDrawBlendMode(BlendNone, 0);
    const std::uint32_t copy = DrawOneFlat(kind, d, c);
    SetDrawBlendMode(BlendAlpha, 255);
    EXPECT_EQ(copy, DrawOneFlat(kind, d, c));
    SetDrawBlendMode(BlendMul, 1);
    const std::uint32_t product = DrawOneFlat(kind, d, c);
    SetDrawBlendMode(BlendMul, 200);
    EXPECT_EQ(product, DrawOneFlat(kind, d, c));
  }
}

TEST_F(FlatPixels, FadeFormulasPerKind) {
  // 16-bit fades by p/255 truncated toward zero; 32-bit by p/256.
  SetDrawBlendMode(BlendAlpha, 128);
  EXPECT_EQ(0x7BEFu, DrawOneFlat(MemImgKind16, 0x0000, 0xFFFF));
  EXPECT_EQ(0x8410u, DrawOneFlat(MemImgKind16, 0xFFFF, 0x0000));
  EXPECT_EQ(0x007F7F7Fu, DrawOneFlat(MemImgKind32, 0, 0x00FFFFFF));
  SetDrawBlendMode(BlendInverted, 255);
  EXPECT_EQ(0xFFFFu, DrawOneFlat(MemImgKind16, 0x1234, 0x0000));
  EXPECT_EQ(Bgr(254, 254, 254), DrawOneFlat(MemImgKind32, 0, 0));
  SetDrawBlendMode(BlendMulFade, 255);
  EXPECT_EQ(Bgr(254, 254, 254), DrawOneFlat(MemImgKind32, 0x00FFFFFF, 0x00FFFFFF));
  SetDrawBlendMode(BlendMul, 0);
  EXPECT_EQ(0xF7DEu, DrawOneFlat(MemImgKind16, 0xFFFF, 0xFFFF));
}

TEST_F(FlatPixels, UpperBitsOfA16BitColourAreMasked) {
  for (int mode : {BlendNone, BlendAlpha, BlendAdd, BlendSub, BlendMul, BlendInverted, BlendMulFade}) {
    SetDrawBlendMode(mode, 77);
    EXPECT_EQ(DrawOneFlat(MemImgKind16, 0x4321, 0x1234), DrawOneFlat(MemImgKind16, 0x4321, 0xABCD1234))
        << mode;
  }
}

// ---- Textured onto 16-bit ------------------------------------------------------------

using Textured16 = RasterTest;

TEST_F(Textured16, CopyAndColourKey) {
  EXPECT_EQ(0xBEEFu, DrawOneTexel(MemImgKind16, 0, 0x1111, 0xBEEF));
  EXPECT_EQ(0x1111u, DrawOneTexel(MemImgKind16, 0, 0x1111, 0xBEEF, 1, -1, 0xBEEF));
  EXPECT_EQ(0xBEEFu, DrawOneTexel(MemImgKind16, 0, 0x1111, 0xBEEF, 0, -1, 0xBEEF));
  // The key is 32 bits wide: one with upper bits never matches a 16-bit texel.
  EXPECT_EQ(0xBEEFu, DrawOneTexel(MemImgKind16, 0, 0x1111, 0xBEEF, 1, -1, 0x1BEEF));
}

TEST_F(Textured16, AlphaSourceUnderTrans) {
  const std::uint32_t green = 0x07E0;
  EXPECT_EQ(0x1111u, DrawOneTexel(MemImgKind16, 1, 0x1111, 0x00 << 16 | green, 1));
  EXPECT_EQ(green, DrawOneTexel(MemImgKind16, 1, 0x0000, 0xFF << 16 | green, 1));
  // Without trans 255 weighs 255/256.
  EXPECT_EQ(62u << 5, DrawOneTexel(MemImgKind16, 1, 0x0000, 0xFF << 16 | green, 0));
  // Modes 4 and 11 do not skip a = 0: multiply turns black, fade-multiply keeps.
  SetDrawBlendMode(BlendMul, 0);
  EXPECT_EQ(0x0000u, DrawOneTexel(MemImgKind16, 1, 0xFFFF, 0x00FFFF, 1));
  SetDrawBlendMode(BlendMulFade, 200);
  EXPECT_EQ(0x1234u, DrawOneTexel(MemImgKind16, 1, 0x1234, 0x00FFFF, 1));
  // Add with a = 0 adds nothing; subtract still moves the guard bits.
  SetDrawBlendMode(BlendAdd, 255);
  EXPECT_EQ(0x1234u, DrawOneTexel(MemImgKind16, 1, 0x1234, 0x00FFFF, 0));
  SetDrawBlendMode(BlendSub, 255);
  EXPECT_EQ(0x0800u, DrawOneTexel(MemImgKind16, 1, 0x0000, 0x00FFFF, 0));
}

TEST_F(Textured16, FadesAndWeights) {
  SetDrawBlendMode(BlendAlpha, 128);
  EXPECT_EQ(0x7BEFu, DrawOneTexel(MemImgKind16, 0, 0x0000, 0xFFFF));
  EXPECT_EQ(31u << 5, DrawOneTexel(MemImgKind16, 0, 0x0000, 0x07E0, 0, 255));
  SetDrawBlendMode(BlendInverted, 255);
  EXPECT_EQ(0x0000u, DrawOneTexel(MemImgKind16, 0, 0x5555, 0xFFFF));
  EXPECT_EQ(0xFFFFu, DrawOneTexel(MemImgKind16, 0, 0x5555, 0x0000));
  // A negative difference rounds toward minus infinity: 1 + floor(-128/256) = 0.
  SetDrawBlendMode(BlendNone, 0);
  EXPECT_EQ(0x0000u, DrawOneTexel(MemImgKind16, 0, 0x0001, 0x0000, 0, 128));
}

TEST_F(Textured16, AddWithAlphaWeighsBeforeBrightness) {
  // Blue 3 at a = 128 with blue brightness 170: alpha first gives trunc(1 * 170 / 255) = 0;
  // brightness first would give floor(2 * 128 / 256) = 1.
  SetDrawBlendMode(BlendAdd, 255);
  SetDrawBrightness(255, 255, 170);
  EXPECT_EQ(0x0000u, DrawOneTexel(MemImgKind16, 1, 0x0000, 128 << 16 | 3));
  // With a blend weight instead, brightness comes first.
  EXPECT_EQ(0x0001u, DrawOneTexel(MemImgKind16, 0, 0x0000, 3, 0, 128));
}

// ---- Textured onto 32-bit ------------------------------------------------------------

using Textured32 = RasterTest;

TEST_F(Textured32, CopyTakesTheWholeWordAndTheKeyComparesAllFourBytes) {
  EXPECT_EQ(0xC0FFEE42u, DrawOneTexel(MemImgKind32, 0, 0x11111111, 0xC0FFEE42));
  EXPECT_EQ(0x11111111u, DrawOneTexel(MemImgKind32, 0, 0x11111111, 0xC0FFEE42, 1, -1, 0xC0FFEE42));
  EXPECT_EQ(0xC1FFEE42u, DrawOneTexel(MemImgKind32, 0, 0x11111111, 0xC1FFEE42, 1, -1, 0xC0FFEE42));
}

TEST_F(Textured32, AlphaSource) {
  EXPECT_EQ(Bgr(254, 254, 254), DrawOneTexel(MemImgKind32, 1, 0, Bgr(255, 255, 255, 255), 0));
  EXPECT_EQ(Bgr(255, 255, 255, 255), DrawOneTexel(MemImgKind32, 1, 0, Bgr(255, 255, 255, 255), 1));
  // The key plays no part with alpha; a = 0 is skipped in modes 0 to 3.
  EXPECT_NE(0u, DrawOneTexel(MemImgKind32, 1, 0, Bgr(9, 9, 9, 128), 1, -1, Bgr(9, 9, 9, 128)));
  EXPECT_EQ(0x12345678u, DrawOneTexel(MemImgKind32, 1, 0x12345678, Bgr(9, 9, 9, 0), 1));
  SetDrawBlendMode(BlendMul, 0);
  EXPECT_EQ(0x12000000u, DrawOneTexel(MemImgKind32, 1, 0x12345678, Bgr(200, 200, 200, 0), 1));
  EXPECT_EQ(0x12000000u, DrawOneTexel(MemImgKind32, 1, 0x12345678, Bgr(200, 200, 200, 0), 0));
  SetDrawBlendMode(BlendMul, 0);
  EXPECT_EQ(Bgr(39, 39, 39), DrawOneTexel(MemImgKind32, 1, Bgr(100, 100, 100), Bgr(200, 200, 200, 128), 0));
}

TEST_F(Textured32, AddAndSubtractExamples) {
  SetDrawBlendMode(BlendAdd, 255);
  EXPECT_EQ(Bgr(255, 201, 200), DrawOneTexel(MemImgKind32, 0, Bgr(100, 100, 100), Bgr(200, 100, 100)));
  EXPECT_EQ(Bgr(2, 1, 1), DrawOneTexel(MemImgKind32, 0, Bgr(1, 1, 1), Bgr(1, 1, 1)));
  EXPECT_EQ(Bgr(255, 255, 255, 1), DrawOneTexel(MemImgKind32, 0, Bgr(10, 10, 10), Bgr(250, 250, 250)));
  EXPECT_EQ(Bgr(99, 99, 99), DrawOneTexel(MemImgKind32, 0, 0, Bgr(200, 200, 200), 0, 128));
  SetDrawBlendMode(BlendSub, 255);
  EXPECT_EQ(Bgr(5, 7, 7), DrawOneTexel(MemImgKind32, 0, Bgr(10, 10, 10, 9), Bgr(5, 5, 5)));
  EXPECT_EQ(Bgr(6, 7, 7), DrawOneTexel(MemImgKind32, 0, Bgr(6, 6, 6), 0));
  EXPECT_EQ(Bgr(0, 1, 1), DrawOneTexel(MemImgKind32, 0, 0, 0));
}

TEST_F(Textured32, BrightnessAndFades) {
  SetDrawBrightness(0, 0, 0);
  EXPECT_EQ(0x77000000u, DrawOneTexel(MemImgKind32, 0, 0x77123456, 0x00FFFFFF));
  SetDrawBrightness(255, 255, 254);  // not white: goes through the tables
  EXPECT_EQ(Bgr(253, 255, 255, 0x77), DrawOneTexel(MemImgKind32, 0, 0x77000000, Bgr(254, 255, 255, 0x42)));
  SetDrawBrightness(255, 255, 255);
  SetDrawBlendMode(BlendAlpha, 200);
  EXPECT_EQ(Bgr(109, 109, 109),
            DrawOneTexel(MemImgKind32, 1, Bgr(100, 100, 100), Bgr(200, 200, 200, 64), 0, 128));
  SetDrawBlendMode(BlendInverted, 255);
  EXPECT_EQ(Bgr(254, 254, 254), DrawOneTexel(MemImgKind32, 0, 0, 0));
  SetDrawBlendMode(BlendMulFade, 255);
  EXPECT_EQ(Bgr(254, 254, 254), DrawOneTexel(MemImgKind32, 0, Bgr(255, 255, 255), Bgr(255, 255, 255)));
  for (int mode : {BlendInverted, BlendMulFade}) {
    SetDrawBlendMode(mode, 0);
    EXPECT_EQ(0x89ABCDEFu, DrawOneTexel(MemImgKind32, 0, 0x89ABCDEF, 0x12345678)) << mode;
  }
}

// Mode 1 at 255 equals mode 0, and mode 4 ignores p, for every switch combination.
TEST_F(Textured32, EquivalentModesGiveIdenticalImages) {
  std::mt19937 rng(11);
  for (int i = 0; i < 256; ++i) BlendBorderTable[i] = static_cast<std::uint8_t>(rng());
  for (int kind : {MemImgKind16, MemImgKind32}) {
    for (int palette = 0; palette < 2; ++palette) {
      for (int variant = 0; variant < 16; ++variant) {
        const int alpha = palette ? 0 : variant & 1;
        const int trans = (variant >> 1) & 1;
        const bool withBlend = (variant & 4) != 0;
        const bool dim = (variant & 8) != 0;
        Image src(16, 16, kind, palette, alpha, 0);
        Image blend(16, 16, MemImgKind32);
        for (int y = 0; y < 16; ++y) {
          for (int x = 0; x < 16; ++x) {
            src.Set(x, y, palette ? rng() & 0xFF : (kind == MemImgKind16 && !alpha ? rng() & 0xFFFF : rng()));
            blend.Set(x, y, rng());
          }
        }
        if (palette) {
          for (int i = 0; i < 256; ++i) src.SetPalette(i, rng());
        }
        const TriVertex v[3] = {{0, 0, 0, 0}, {17, 1, 16, 0}, {2, 18, 0, 16}};
        auto draw = [&](int mode, int p) {
          Image dest(20, 20, kind);
          for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x)
              dest.Set(x, y, static_cast<std::uint32_t>(x * 977 + y * 131) * 2654435761u);
          }
          ResetStateFor(dest);
          SetDrawBlendMode(mode, p);
          if (dim) SetDrawBrightness(200, 90, 255);
          DrawMemImgTriangle(&dest.m, &src.m, v, trans, withBlend ? &blend.m : nullptr, 0);
          std::vector<std::uint32_t> out;
          for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) out.push_back(dest.Get(x, y));
          }
          return out;
        };
        EXPECT_EQ(draw(BlendNone, 0), draw(BlendAlpha, 255)) << kind << " " << palette << " " << variant;
        EXPECT_EQ(draw(BlendMul, 0), draw(BlendMul, 255)) << kind << " " << palette << " " << variant;
      }
    }
  }
}

// ---- Palette sources -----------------------------------------------------------------

using PalettePixels = RasterTest;

TEST_F(PalettePixels, KeyIsComparedWithTheIndex) {
  EXPECT_EQ(0x1111u, DrawOnePaletteTexel(MemImgKind16, 0x1111, 0xBEEF, 1, -1, 5));
  EXPECT_EQ(0xBEEFu, DrawOnePaletteTexel(MemImgKind16, 0x1111, 0xBEEF, 0, -1, 5));
  EXPECT_EQ(0xBEEFu, DrawOnePaletteTexel(MemImgKind16, 0x1111, 0xBEEF, 1, -1, 0x105));
}

TEST_F(PalettePixels, CopyWritesTheWholeEntryOnlyWhenWhite) {
  EXPECT_EQ(0xAB123456u, DrawOnePaletteTexel(MemImgKind32, 0x77000000, 0xAB123456));
  SetDrawBrightness(255, 255, 254);
  EXPECT_EQ(0x77123455u, DrawOnePaletteTexel(MemImgKind32, 0x77000000, 0xAB123456));
}

TEST_F(PalettePixels, FadesAddsAndSubtracts) {
  SetDrawBlendMode(BlendAlpha, 128);
  EXPECT_EQ(0x7BEFu, DrawOnePaletteTexel(MemImgKind16, 0x0000, 0xFFFF));
  EXPECT_EQ(0x8410u, DrawOnePaletteTexel(MemImgKind16, 0xFFFF, 0x0000));
  EXPECT_EQ(Bgr(127, 127, 127), DrawOnePaletteTexel(MemImgKind32, 0, 0x00FFFFFF));
  EXPECT_EQ(Bgr(127, 127, 127), DrawOnePaletteTexel(MemImgKind32, 0x00FFFFFF, 0));
  // At 255 alpha is the copy kernel, also with a blend image.
  SetDrawBlendMode(BlendAlpha, 255);
  EXPECT_EQ(Bgr(127, 127, 127), DrawOnePaletteTexel(MemImgKind32, 0, 0x00FFFFFF, 0, 128));

  SetDrawBlendMode(BlendAdd, 255);
  EXPECT_EQ(0x0020u, DrawOnePaletteTexel(MemImgKind16, 0x0020, 0x0020));
  EXPECT_EQ(0xF800u, DrawOnePaletteTexel(MemImgKind16, 0xF000, 0x1000));
  EXPECT_EQ(0x01FF0000u, DrawOnePaletteTexel(MemImgKind32, 0x00FF0000, 0x00020000));
  SetDrawBlendMode(BlendSub, 255);
  EXPECT_EQ(0x0800u, DrawOnePaletteTexel(MemImgKind16, 0xFFFF, 0xFFFF));
  EXPECT_EQ(0x0800u, DrawOnePaletteTexel(MemImgKind16, 0x0000, 0x0000));
  EXPECT_EQ(0x00010100u, DrawOnePaletteTexel(MemImgKind32, 0xFFFFFFFF, 0x00FFFFFF));
  SetDrawBlendMode(BlendSub, 0);
  EXPECT_EQ(0x1A14u, DrawOnePaletteTexel(MemImgKind16, 0x1234, 0xFFFF));
  EXPECT_EQ(0x00133556u, DrawOnePaletteTexel(MemImgKind32, 0x89123456, 0x00FFFFFF));
}

TEST_F(PalettePixels, MultiplyAndInvert) {
  SetDrawBlendMode(BlendMul, 0);
  EXPECT_EQ(0xF7DEu, DrawOnePaletteTexel(MemImgKind16, 0xFFFF, 0xFFFF));
  EXPECT_EQ(Bgr(254, 254, 254), DrawOnePaletteTexel(MemImgKind32, 0x00FFFFFF, 0x00FFFFFF));
  EXPECT_EQ(0x0000u, DrawOnePaletteTexel(MemImgKind16, 0xFFFF, 0xFFFF, 0, 0));
  SetDrawBlendMode(BlendNone, 0);
  EXPECT_EQ(0x4321u, DrawOnePaletteTexel(MemImgKind16, 0x4321, 0xFFFF, 0, 0));
  SetDrawBlendMode(BlendInverted, 255);
  EXPECT_EQ(0xEDCBu, DrawOnePaletteTexel(MemImgKind16, 0x5555, 0x1234));
  EXPECT_EQ(Bgr(254, 254, 254), DrawOnePaletteTexel(MemImgKind32, 0, 0));
  SetDrawBlendMode(BlendMulFade, 0);
  EXPECT_EQ(0x4321u, DrawOnePaletteTexel(MemImgKind16, 0x4321, 0x1234));
}

TEST_F(PalettePixels, TransferredPaletteIsWhatTheKernelsRead) {
  Image dest(2, 1, MemImgKind16);
  Image src(2, 1, MemImgKind16, 1);
  PaletteEntry palette[256] = {};
  palette[3] = {0x1F, 0xFF, 0x88, 0};  // blue, green, red
  const std::uint8_t indices[2] = {3, 0};
  const MemImgTransferSource from{indices, 2, 2, 1, palette};
  ASSERT_EQ(0, TransferMemImgRect(&src.m, 0, 0, &from, 0, 0, 2, 1));
  ResetStateFor(dest);
  const TriVertex v[3] = {{0, 0, 0, 0}, {2, 0, 2, 0}, {0, 2, 0, 2}};
  DrawMemImgTriangle(&dest.m, &src.m, v, 0, nullptr, 0);
  EXPECT_EQ(static_cast<std::uint32_t>((0x88 & 0xF8) << 8 | (0xFF & 0xFC) << 3 | 0x1F >> 3), dest.Get(0, 0));
  EXPECT_EQ(0u, dest.Get(1, 0));
}

}  // namespace
}  // namespace gamelib::rastertest
