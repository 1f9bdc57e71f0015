// Font handles and the drawing entries: bad input, fallbacks, the draw target, blend
// modes and clipping.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "font_fixture.h"

namespace {

using gamelib::DrawStringWithFontCache;

TEST_F(FontTest, InvalidFontsAndNullStringsAreRefusedWithTheLogText) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  ASSERT_GE(font, 0);
  const int deleted = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  ASSERT_EQ(gamelib::DeleteFontToHandle(deleted), 0);
  Log();
  for (int bad :
       {-1, 0, deleted, font ^ 0x00010000, (font & ~gamelib::kFontKindPlain) ^ 0x30000000, 0x7FFFFFFF}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(gamelib::DrawStringToHandle(0, 0, "abc", 0xFFFFFF, bad), -1);
    EXPECT_NE(Log().find("フォントハンドル値が異常です"), std::string::npos);
    EXPECT_EQ(gamelib::DrawStringSoft(0, 0, "abc", 0xFFFFFF, bad, 0, 0), -1);
    EXPECT_EQ(
        DrawStringWithFontCache(0, 0, 0, 0, 1.0, 1.0, "abc", 0, nullptr, nullptr, 1, bad, 0, -1, 0, nullptr),
        -1);
    EXPECT_EQ(gamelib::DeleteFontToHandle(bad), -1);
    EXPECT_EQ(gamelib::RestoreFontCacheImage(bad), -1);
  }
  EXPECT_EQ(gamelib::DrawStringToHandle(0, 0, nullptr, 0xFFFFFF, font), -1);
  EXPECT_NE(Log().find("描画する文字列がありません"), std::string::npos);
  EXPECT_EQ(gamelib::DrawString(0, 0, nullptr, 0xFFFFFF), -1);
  EXPECT_EQ(gamelib::DrawStringSoft(0, 0, nullptr, 0xFFFFFF, font, 0, 0), -1);
  Image image(20, 20);
  for (double scale : {0.0, -1.0, 1e9, std::numeric_limits<double>::quiet_NaN()})
    EXPECT_EQ(DrawStringWithFontCache(1, 0, 0, 0, scale, 1.0, "a", 0, &image.image, nullptr, 1, font, 0, -1,
                                      0, nullptr),
              -1);
  EXPECT_EQ(DrawStringWithFontCache(2, 0, 0, 0, 1.0, 1.0, "a", 0, &image.image, nullptr, 1, font, 0, -1, 0,
                                    nullptr),
            -1);
  // A palette image holds no colours to draw with.
  gamelib::MEMIMG palette{};
  ASSERT_EQ(gamelib::CreateMemImg(&palette, 20, 20, gamelib::kMemImgKind32, 1, 0, 0), 0);
  EXPECT_EQ(
      DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "a", 0, &palette, nullptr, 1, font, 0, -1, 0, nullptr),
      -1);
  gamelib::DeleteMemImg(&palette);
}

TEST_F(FontTest, CreationRefusesBadSizesAndKinds) {
  for (auto [size, kind] : {std::pair{0, 0}, {-2, 0}, {gamelib::kFontMaxSize + 1, 0}, {16, 4}, {16, -1}}) {
    EXPECT_EQ(gamelib::CreateFontToHandle(nullptr, size, -1, kind), -1) << size << " " << kind;
    EXPECT_FALSE(Log().empty());
  }
  const int font = gamelib::CreateFontToHandle(nullptr, -1, 99, gamelib::kFontKindEdge);
  ASSERT_GE(font, 0);
  EXPECT_EQ(gamelib::GetFontRecord(font)->size, gamelib::kFontDefaultSize);
  EXPECT_EQ(gamelib::GetFontRecord(font)->thickness, gamelib::kFontMaxThickness);
  EXPECT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 0);
}

TEST_F(FontTest, MissingFontFallsBackToTheDefaultAndSaysSo) {
  for (const char* name : {"No Such Family 123", "/no/such/file.ttf", "ＭＳ ゴシック"}) {
    SCOPED_TRACE(name);
    const int missing = gamelib::CreateFontToHandle(name, 18, -1, gamelib::kFontKindAntialiased);
    ASSERT_GE(missing, 0);
    const std::string log = Log();
    EXPECT_NE(log.find(name), std::string::npos);
    EXPECT_NE(log.find("既定のフォントを使います"), std::string::npos);
    const int fallback = gamelib::CreateFontToHandle(nullptr, 18, -1, gamelib::kFontKindAntialiased);
    Image a(200, 30), b(200, 30);
    DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Fallback 代替", 0xFFFFFF, &a.image, nullptr, 1, missing, 0,
                            -1, 0, nullptr);
    DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Fallback 代替", 0xFFFFFF, &b.image, nullptr, 1, fallback,
                            0, -1, 0, nullptr);
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 200; ++x) ASSERT_EQ(a.At(x, y), b.At(x, y));
  }
  // An installed family is taken without a word.
  EXPECT_GE(gamelib::CreateFontToHandle("DejaVu Sans", 18, -1, 0), 0);
  EXPECT_EQ(Log().find("既定のフォントを使います"), std::string::npos);
}

TEST_F(FontTest, HandleTableFillsUpAndReusesFreedSlots) {
  std::vector<int> fonts;
  for (int i = 0; i < gamelib::kMaxFontHandles; ++i) {
    fonts.push_back(gamelib::CreateFontToHandle(kGothicFile, 8, -1, 0));
    ASSERT_GE(fonts.back(), 0);
  }
  Log();
  EXPECT_EQ(gamelib::CreateFontToHandle(kGothicFile, 8, -1, 0), -1);
  EXPECT_NE(Log().find("フォントハンドルの数が上限に達しました"), std::string::npos);
  ASSERT_EQ(gamelib::DeleteFontToHandle(fonts[10]), 0);
  const int again = gamelib::CreateFontToHandle(kGothicFile, 8, -1, 0);
  ASSERT_GE(again, 0);
  EXPECT_NE(again, fonts[10]);
  EXPECT_EQ(gamelib::GetFontRecord(fonts[10]), nullptr);
  EXPECT_EQ(gamelib::InitFontToHandle(), 0);
  EXPECT_EQ(gamelib::GetFontRecord(again), nullptr);
  EXPECT_EQ(gamelib::GetFontRecord(fonts[0]), nullptr);
}

// The software road draws onto the current draw target, inside the draw area.
gamelib::MEMIMG* g_target = nullptr;
gamelib::MEMIMG* CurrentTarget() { return g_target; }

TEST_F(FontTest, SoftwareRoadDrawsOnTheDrawTargetInsideTheDrawArea) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 20, -1, gamelib::kFontKindAntialiasedEdge);
  EXPECT_EQ(gamelib::DrawStringSoft(0, 0, "no target", 0xFFFFFF, font, 0, 0), -1);
  Image screen(200, 60), whole(200, 60);
  g_target = &screen.image;
  gamelib::FontRoadHooks hooks{};
  hooks.lockSoftwareTarget = CurrentTarget;
  gamelib::SetFontRoadHooks(&hooks);
  gamelib::SetDrawScreenSize(200, 60);
  gamelib::SetDrawArea(30, 8, 90, 20);
  EXPECT_EQ(gamelib::DrawStringToHandle(10, 5, "Clip 切り抜き", 0xFFFFFF, font, 0xFF0000), 0);
  DrawStringWithFontCache(1, 10, 5, 0, 1.0, 1.0, "Clip 切り抜き", 0xFFFFFF, &whole.image, nullptr, 1, font,
                          0xFF0000, -1, 0, nullptr);
  int inside = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) {
      const bool in = x >= 30 && x < 90 && y >= 8 && y < 20;
      ASSERT_EQ(screen.At(x, y), in ? whole.At(x, y) : 0u) << x << "," << y;
      inside += in && whole.At(x, y) != 0;
    }
  EXPECT_GT(inside, 0);
  // DrawString takes the default font.
  gamelib::SetDrawArea(0, 0, 200, 60);
  screen.Fill(0);
  EXPECT_EQ(gamelib::DrawString(0, 0, "既定", 0xFFFFFF), 0);
  const int plain =
      gamelib::CreateFontToHandle(nullptr, gamelib::kFontDefaultSize, -1, gamelib::kFontKindPlain);
  Image expected(200, 60);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "既定", 0xFFFFFF, &expected.image, nullptr, 1, plain, 0, -1,
                          0, nullptr);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) ASSERT_EQ(screen.At(x, y), expected.At(x, y));
  g_target = nullptr;
}

// A covered pixel of a plain glyph under each blend mode, on 32-bit and 16-bit images;
// uncovered pixels never change.
struct BlendCase {
  int mode, parameter;
  int ground, colour;  // 32-bit: one byte repeated in red, green and blue
  int expect;          // the covered pixel's byte; -1: nothing is drawn
};

class BlendTest : public FontTest, public ::testing::WithParamInterface<BlendCase> {};

TEST_P(BlendTest, CoveredPixelsFollowTheBlendModeAndTheRestStay) {
  const BlendCase& b = GetParam();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  const std::uint32_t ground = static_cast<std::uint32_t>(b.ground * 0x010101);
  Image wide(60, 24), narrow(60, 24, gamelib::kMemImgKind16), mask(60, 24);
  wide.Fill(ground);
  // 5-6-5 fields that hold the same fraction: red and blue 31, green 63 at full.
  const auto field565 = [](int v) { return (v * 31 / 255) << 11 | (v * 63 / 255) << 5 | (v * 31 / 255); };
  narrow.Fill(static_cast<std::uint32_t>(field565(b.ground)));
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "W字", 0xFFFFFF, &mask.image, nullptr, 1, font, 0, -1, 0,
                          nullptr);
  gamelib::SetDrawBlendMode(b.mode, b.parameter);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "W字", b.colour * 0x010101, &wide.image, nullptr, 1, font, 0,
                          -1, 0, nullptr);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "W字", field565(b.colour), &narrow.image, nullptr, 1, font, 0,
                          -1, 0, nullptr);
  int covered = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 60; ++x) {
      const bool on = mask.At(x, y) != 0 && b.expect >= 0;
      covered += on;
      ASSERT_EQ(wide.At(x, y), on ? static_cast<std::uint32_t>(b.expect * 0x010101) : ground)
          << x << "," << y;
      const int red = static_cast<int>(narrow.At(x, y) >> 11);
      ASSERT_EQ(red, on ? b.expect * 31 / 255 : b.ground * 31 / 255) << x << "," << y;
    }
  EXPECT_EQ(covered > 0, b.expect >= 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, BlendTest,
                         ::testing::Values(BlendCase{gamelib::BlendNone, 0, 100, 255, 255},
                                           BlendCase{gamelib::BlendAlpha, 255, 100, 255, 255},
                                           BlendCase{gamelib::BlendAlpha, 0, 100, 255, -1},
                                           BlendCase{gamelib::BlendAdd, 255, 100, 255, 255},
                                           BlendCase{gamelib::BlendSub, 255, 100, 255, 0},
                                           BlendCase{gamelib::BlendMul, 0, 255, 0, 0},
                                           BlendCase{gamelib::BlendInverted, 255, 100, 255, 0},
                                           BlendCase{gamelib::BlendMulFade, 255, 255, 0, 0},
                                           BlendCase{5, 255, 100, 255, -1},
                                           BlendCase{12, 255, 100, 255, -1}));

TEST_F(FontTest, PartialCoverageAndBrightnessWeighTheColour) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindAntialiased);
  Image mask(60, 24), half(60, 24, gamelib::kMemImgKind32, 1);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Sa", 0xFFFFFF, &mask.image, nullptr, 1, font, 0, -1, 0,
                          nullptr);
  gamelib::SetDrawBlendMode(gamelib::BlendAlpha, 128);
  gamelib::SetDrawBrightness(255, 128, 0);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Sa", 0xFFFFFF, &half.image, nullptr, 1, font, 0, -1, 0,
                          nullptr);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 60; ++x) {
      const int k = static_cast<int>(mask.At(x, y) & 0xFF);
      const int weight = k * 128 / 255;
      const std::uint32_t got = half.At(x, y);
      ASSERT_EQ(got >> 24, static_cast<std::uint32_t>(weight)) << "alpha builds up by the weight";
      ASSERT_EQ((got >> 16) & 0xFF, static_cast<std::uint32_t>(255 * weight / 255));
      ASSERT_EQ((got >> 8) & 0xFF, static_cast<std::uint32_t>(128 * weight / 255));
      ASSERT_EQ(got & 0xFF, 0u);
    }
}

TEST_F(FontTest, OpaqueTextClearsEachCellFirst) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindEdge);
  Image image(60, 24), mask(60, 24);
  image.Fill(0x404040);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Tx", 0xFFFFFF, &mask.image, nullptr, 1, font, 0x0000FF, -1,
                          0, nullptr);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Tx", 0xFFFFFF, &image.image, nullptr, 0, font, 0x0000FF, -1,
                          0, nullptr);
  int cleared = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 60; ++x) {
      if (mask.At(x, y) != 0) {
        ASSERT_EQ(image.At(x, y), mask.At(x, y));
      }
      cleared += image.At(x, y) == 0;
    }
  EXPECT_GT(cleared, 0);
}

// Antialiased text over a patterned ground on both 16-bit kinds: each glyph in turn moves
// every field of a pixel by FreeType's coverage under the blend mode, and on images with
// alpha a moving ink also builds the alpha up by the weight.
struct Blend16Case {
  const char* name;
  int mode, parameter;
};

class Blend16Test : public FontTest, public ::testing::WithParamInterface<std::tuple<Blend16Case, bool>> {};

TEST_P(Blend16Test, EachFieldMovesByFreeTypesCoverageOverANonZeroGround) {
  const auto& [b, alpha] = GetParam();
  constexpr int kWidth = 70, kHeight = 24;
  const char* text = "Sa字g";
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindAntialiased);
  ASSERT_GE(font, 0);
  Image image(kWidth, kHeight, gamelib::kMemImgKind16, alpha ? 1 : 0);
  // Every field and the alpha byte take many values.
  std::vector<std::uint32_t> ground;
  std::uint32_t seed = 12345;
  for (int i = 0; i < kWidth * kHeight; ++i) {
    seed = seed * 1664525u + 1013904223u;
    ground.push_back(alpha ? (seed >> 8) & 0xFFFFFF : (seed >> 16) & 0xFFFF);
  }
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) image.Set(x, y, ground[static_cast<std::size_t>(y) * kWidth + x]);
  const int red = 26, green = 43, blue = 9;  // the colour's 5-6-5 fields
  gamelib::SetDrawBlendMode(b.mode, b.parameter);
  ASSERT_GE(DrawStringWithFontCache(1, 2, 3, 0, 1.0, 1.0, text, red << 11 | green << 5 | blue, &image.image,
                                    nullptr, 1, font, 0, -1, 0, nullptr),
            0);

  // One field of width max moved from d by colour c at weight w (0..255).
  const auto field = [&](int d, int c, int max, int w) {
    if (b.mode == gamelib::BlendInverted) c = max - c;
    switch (b.mode) {
      case gamelib::BlendAdd:
        return std::min(max, d + c * w / 255);
      case gamelib::BlendSub:
        return std::max(0, d - c * w / 255);
      case gamelib::BlendMul:
      case gamelib::BlendMulFade:
        return d + (c * d / max - d) * w / 255;
      default:
        return d + (c - d) * w / 255;
    }
  };
  const bool moves =
      b.mode == gamelib::BlendNone || b.mode == gamelib::BlendAlpha || b.mode == gamelib::BlendInverted;
  const bool scaled = b.mode != gamelib::BlendNone && b.mode != gamelib::BlendMul;
  ReferenceFace reference(kGothicFile, 16);
  const std::vector<Canvas> glyphs = reference.LayEach(Utf32(text), 2, 3, kWidth, kHeight, true, false);
  int wrong = 0, partial = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      std::uint32_t v = ground[static_cast<std::size_t>(y) * kWidth + x];
      for (const Canvas& g : glyphs) {
        const int k = g.get(x, y);
        const int w = scaled ? k * b.parameter / 255 : k;
        if (w == 0) continue;
        partial += k < 255;
        int a = static_cast<int>(v >> 16) & 255;
        if (moves) a = a + (255 - a) * w / 255;
        const int r = field(static_cast<int>(v >> 11) & 31, red, 31, w);
        const int gr = field(static_cast<int>(v >> 5) & 63, green, 63, w);
        const int bl = field(static_cast<int>(v) & 31, blue, 31, w);
        v = static_cast<std::uint32_t>((alpha ? a << 16 : 0) | r << 11 | gr << 5 | bl);
      }
      if (image.At(x, y) != v && wrong++ < 5)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << image.At(x, y) << ", expected "
                      << v;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(partial, 50) << "the text has partly covered pixels";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Blend16Test,
    ::testing::Combine(::testing::Values(Blend16Case{"None", gamelib::BlendNone, 0},
                                         Blend16Case{"Alpha", gamelib::BlendAlpha, 170},
                                         Blend16Case{"Add", gamelib::BlendAdd, 200},
                                         Blend16Case{"Sub", gamelib::BlendSub, 230},
                                         Blend16Case{"Mul", gamelib::BlendMul, 0},
                                         Blend16Case{"Inverted", gamelib::BlendInverted, 255},
                                         Blend16Case{"MulFade", gamelib::BlendMulFade, 140}),
                       ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "WithAlpha" : "");
    });

}  // namespace
