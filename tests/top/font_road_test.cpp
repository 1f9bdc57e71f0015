// Fonts on the 3-D road: the texture-cache rule on devices with and without the 16-bit
// alpha formats, glyphs through the device against FreeType, the cache surviving a
// lost device, and text of plain fonts on the locked back buffer.
#include <functional>
#include <tuple>

#include "../d3d/display_fixture.h"
#include "../font/font_fixture.h"
#include "core/window.h"
#include "d3d/d3d_state.h"
#include "d3d/graph_drawing.h"
#include "font/font_face.h"
#include "font/glyph_cache.h"

namespace {

class FontRoadTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    gamelib::InstallFontRoad();
    gamelib::SetGraphMode(640, 480, 32);
    gamelib::SetBackgroundColor(0, 0, 0);  // the screen starts black
    // A window that a library run before has closed throws batches away.
    ASSERT_EQ(gamelib::CreateMainWindow(), 0);
  }
  void TearDown() override {
    gamelib::InitFontToHandle();
    gamelib::SetFontRoadHooks(nullptr);
    gamelib::ResetDrawState();
    gamelib::DestroyMainWindow();
    DisplayTest::TearDown();
  }
  // The screen, with the draw state other tests may have left reset.
  void Start(const sim::DisplayConfig& config = sim::DefaultDisplayConfig()) {
    DisplayTest::Start(config);
    gamelib::SetDrawScreen(gamelib::kDrawScreenBack);
    gamelib::ResetDrawState();
  }
  // The back buffer after the batch went to the device: 8-bit ARGB.
  static std::uint32_t Back(int x, int y) {
    gamelib::CloseDeviceScene();
    return sim::ReadSurfacePixel(sim::SurfaceId(gamelib::GetBackSurface()), x, y);
  }
  // Every pixel of a region against a table of expected blue values.
  static void ExpectBlue(const Canvas& expected, int width, int height,
                         const std::function<int(int)>& value) {
    gamelib::CloseDeviceScene();
    const int id = sim::SurfaceId(gamelib::GetBackSurface());
    int wrong = 0;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int got = static_cast<int>(sim::ReadSurfacePixel(id, x, y) & 0xFF);
        const int want = value(expected.get(x, y));
        if (got != want && wrong++ < 5)
          ADD_FAILURE() << x << "," << y << ": " << got << ", expected " << want;
      }
    EXPECT_EQ(wrong, 0);
  }
};

sim::DisplayConfig Without(sim::PixelFormatName name) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  const DDPIXELFORMAT drop = sim::MakePixelFormat(name);
  std::erase_if(config.textureFormats,
                [&](const DDPIXELFORMAT& f) { return std::memcmp(&f, &drop, sizeof(f)) == 0; });
  return config;
}

struct FlagCase {
  const char* name;
  sim::DisplayConfig config;
  int use3D;
  int flag;
};

class TextureCacheFlagTest : public FontRoadTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(TextureCacheFlagTest, FollowsTheFormatsForAlphaChannelAndAlphaTestImages) {
  const FlagCase& c = GetParam();
  gamelib::SetUse3DFlag(c.use3D);
  Start(c.config);
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindAntialiased);
  ASSERT_GE(font, 0);
  EXPECT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, c.flag);
  // Either way the text draws.
  EXPECT_EQ(gamelib::DrawStringToHandle(0, 0, "Road 道", gamelib::GetColor(255, 255, 255), font), 0);
  bool drawn = false;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) drawn |= (Back(x, y) & 0xFFFFFF) != 0;
  EXPECT_TRUE(drawn);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, TextureCacheFlagTest,
    ::testing::Values(FlagCase{"AllFormats", sim::DefaultDisplayConfig(), 1, 1},
                      FlagCase{"NoA4R4G4B4", Without(sim::PixelFormatName::A4R4G4B4), 1, 0},
                      FlagCase{"NoA1R5G5B5", Without(sim::PixelFormatName::A1R5G5B5), 1, 0},
                      FlagCase{"GraphsNotInTextures", sim::DefaultDisplayConfig(), 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// (kind, screen depth). The page texture takes the screen's depth: on a 16-bit screen
// A4R4G4B4, so a pixel is FreeType's coverage with its low 4 bits dropped and widened
// back by bit replication, then stored in 5 bits of blue; on a 32-bit screen 8 bits.
class DeviceGlyphTest : public FontRoadTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(DeviceGlyphTest, GlyphsEqualFreeTypesRenderingAtTheTexturesDepth) {
  const auto [kind, depth] = GetParam();
  gamelib::SetGraphMode(640, 480, depth);
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 20, -1, kind);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 1);
  const auto renders = gamelib::GetGlyphRenderCount();
  ASSERT_EQ(gamelib::DrawStringToHandle(6, 3, "Type 活字 qj", gamelib::GetColor(255, 255, 255), font), 0);
  ASSERT_EQ(gamelib::DrawStringToHandle(6, 40, "Type 活字 qj", gamelib::GetColor(255, 255, 255), font), 0);
  EXPECT_EQ(gamelib::GetGlyphRenderCount() - renders, 9) << "each glyph rendered once";
  ReferenceFace reference(kGothicFile, 20);
  const Canvas expected = reference.Lay(U"Type 活字 qj", 6, 3, 200, 30, kind != 0, false);
  ExpectBlue(expected, 200, 30, [depth = depth](int k) {
    if (depth == 32) return k;
    const int blue5 = ((k >> 4) * 17) >> 3;
    return blue5 << 3 | blue5 >> 2;
  });
}

INSTANTIATE_TEST_SUITE_P(KindsAndDepths, DeviceGlyphTest,
                         ::testing::Combine(::testing::Values(gamelib::kFontKindPlain,
                                                              gamelib::kFontKindAntialiased),
                                            ::testing::Values(16, 32)));

TEST_F(FontRoadTest, VerticalEdgedTextThroughTheDeviceMatchesTheSoftwareRoad) {
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 18, -1, gamelib::kFontKindEdge);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 1);
  gamelib::DrawStringToHandle(4, 4, "縦書き", gamelib::GetColor(0, 0, 255), font,
                              gamelib::GetColor(255, 0, 0), 1);
  Image soft(40, 80);
  gamelib::DrawStringWithFontCache(1, 4, 4, 0, 1.0, 1.0, "縦書き", 0x0000FF, &soft.image, nullptr, 1, font,
                                   0xFF0000, -1, 1, nullptr);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Back(x, y) & 0xFFFFFF, soft.At(x, y)) << x << "," << y;
}

// A string whose glyphs lie on two cache pages in turn draws as the software road draws
// it, each pass's cells in one run whose texture changes from glyph to glyph; the draw
// state afterwards is the one set before it.
TEST_F(FontRoadTest, TextAcrossSeveralCachePagesMatchesTheSoftwareRoadAndKeepsTheDrawState) {
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 18, -1, gamelib::kFontKindEdge);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 1);
  const auto utf8 = [](char32_t c) {
    return std::string{static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                       static_cast<char>(0x80 | (c & 0x3F))};
  };
  // A page's worth of kanji first, measured only; the glyphs after them start a new page.
  std::string filler;
  for (char32_t c = 0x4E00; c < 0x4E00 + 800; ++c) filler += utf8(c);
  gamelib::DrawStringWithFontCache(0, 0, 0, 0, 1.0, 1.0, filler.c_str(), 0, nullptr, nullptr, 1, font, 0, -1,
                                   0, nullptr);
  std::string text;
  for (char32_t c : {U'\u4E00', U'\u30A2', U'\u4E01', U'\u30A4', U'\u4E03', U'\u30A6', U'\u4E07'})
    text += utf8(c);
  const gamelib::FontRecord& record = *gamelib::GetFontRecord(font);
  gamelib::DrawStringWithFontCache(0, 0, 0, 0, 1.0, 1.0, text.c_str(), 0, nullptr, nullptr, 1, font, 0, -1, 0,
                                   nullptr);
  gamelib::FontRecord* writable = gamelib::GetFontRecord(font);
  ASSERT_NE(record.cache.glyphs[gamelib::FindGlyph(writable, U'\u4E00', 0)].page,
            record.cache.glyphs[gamelib::FindGlyph(writable, U'\u30A2', 0)].page);
  ASSERT_EQ(gamelib::DrawStringToHandle(3, 5, text.c_str(), gamelib::GetColor(0, 255, 0), font,
                                        gamelib::GetColor(0, 0, 255)),
            0);
  Image soft(180, 40);
  gamelib::DrawStringWithFontCache(1, 3, 5, 0, 1.0, 1.0, text.c_str(), 0x00FF00, &soft.image, nullptr, 1,
                                   font, 0x0000FF, -1, 0, nullptr);
  int inked = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 180; ++x) {
      ASSERT_EQ(Back(x, y) & 0xFFFFFF, soft.At(x, y)) << x << "," << y;
      inked += soft.At(x, y) != 0;
    }
  EXPECT_GT(inked, 200);
  // The text's colour went with it: the brightness set before it tints what follows.
  gamelib::SetDrawBrightness(255, 0, 255);
  ASSERT_EQ(gamelib::DrawStringToHandle(3, 5, text.c_str(), gamelib::GetColor(0, 255, 0), font), 0);
  ASSERT_EQ(gamelib::DrawFillBox(200, 10, 210, 20, gamelib::GetColor(255, 255, 255)), 0);
  EXPECT_EQ(Back(205, 15) & 0xFFFFFF, 0xFF00FFu);
  int red = 0, green = 0, blue = 0;
  gamelib::GetDrawBrightness(&red, &green, &blue);
  EXPECT_EQ(red, 255);
  EXPECT_EQ(green, 0);
  EXPECT_EQ(blue, 255);
}

TEST_F(FontRoadTest, CacheLostWithTheDeviceIsRestoredWithTheSamePixels) {
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 22, -1, gamelib::kFontKindAntialiased);
  const int white = gamelib::GetColor(255, 255, 255);
  gamelib::DrawStringToHandle(0, 0, "Lost 消失", white, font);
  std::vector<std::uint32_t> before;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x) before.push_back(Back(x, y));
  const gamelib::GlyphCachePage page = gamelib::GetFontRecord(font)->cache.pages[0];
  sim::LoseAllSurfaces();
  ASSERT_EQ(gamelib::RestoreGraphSystem(), 0);
  // The screen came back empty; the glyphs come back from the cache, not from FreeType.
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x) sim::WriteSurfacePixel(sim::SurfaceId(gamelib::GetBackSurface()), x, y, 0);
  const auto renders = gamelib::GetGlyphRenderCount();
  gamelib::DrawStringToHandle(0, 0, "Lost 消失", white, font);
  EXPECT_EQ(gamelib::GetGlyphRenderCount(), renders);
  std::size_t i = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 120; ++x, ++i) ASSERT_EQ(Back(x, y), before[i]) << x << "," << y;
  EXPECT_EQ(gamelib::GetFontRecord(font)->cache.pages[0].image.pixels, page.image.pixels);
}

TEST_F(FontRoadTest, PlainCachedFontDrawsOnTheLockedBackBuffer) {
  gamelib::SetUse3DFlag(0);
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 20, -1, gamelib::kFontKindAntialiased);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 0);
  ASSERT_EQ(gamelib::DrawStringToHandle(6, 3, "Soft 柔らか", gamelib::GetColor(255, 255, 255), font), 0);
  ReferenceFace reference(kGothicFile, 20);
  ExpectBlue(reference.Lay(U"Soft 柔らか", 6, 3, 200, 30, true, false), 200, 30, [](int k) { return k; });
  EXPECT_EQ(gamelib::DrawStringD3D(6, 3, "Soft", gamelib::GetColor(255, 255, 255), font, 0, 0), 0)
      << "the 3-D entry forwards a font cached in memory to the software road";
  EXPECT_EQ(gamelib::DrawStringD3D(0, 0, "x", 0, font ^ 0x10000, 0, 0), -1);
  EXPECT_EQ(gamelib::DrawStringD3D(0, 0, nullptr, 0, font, 0, 0), -1);
}

TEST_F(FontRoadTest, BlendModeThreeIsEmulatedAroundTextureCachedText) {
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 1);
  gamelib::SetBackgroundColor(120, 210, 250);
  ASSERT_EQ(gamelib::ClearDrawScreen(), 0);
  gamelib::SetDrawBlendMode(gamelib::BlendSub, 200);
  ASSERT_EQ(gamelib::DrawStringToHandle(4, 2, "Sub 減", gamelib::GetColor(255, 255, 255), font), 0);
  // Ink subtracts 200 from each channel; the rest of the cells, texels of alpha 0,
  // leaves the screen as it was.
  ReferenceFace reference(kGothicFile, 16);
  const Canvas ink = reference.Lay(U"Sub 減", 4, 2, 80, 24, false, false);
  int wrong = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 80; ++x) {
      const std::uint32_t want = ink.get(x, y) != 0 ? 0x000A32u : 0x78D2FAu;
      if ((Back(x, y) & 0xFFFFFF) != want && wrong++ < 5)
        ADD_FAILURE() << x << "," << y << ": " << std::hex << Back(x, y) << ", expected " << want;
    }
  EXPECT_EQ(wrong, 0);

  gamelib::SetDrawBrightness(10, 20, 30);
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(gamelib::DrawStringToHandle(0, 0, "Sub", gamelib::GetColor(255, 255, 255), font), 0);
  gamelib::CloseDeviceScene();
  // The text's draws sit between two white boxes; the draw state is as it was.
  EXPECT_GE(CountCalls(mark, sim::DisplayCall::DrawPrimitive), 3u);
  int mode = 0, parameter = 0, red = 0, green = 0, blue = 0;
  gamelib::GetDrawBlendMode(&mode, &parameter);
  gamelib::GetDrawBrightness(&red, &green, &blue);
  EXPECT_EQ(mode, gamelib::BlendSub);
  EXPECT_EQ(parameter, 200);
  EXPECT_EQ(red, 10);
  EXPECT_EQ(green, 20);
  EXPECT_EQ(blue, 30);
}

// Scaled text through the device: each cell a stretched draw of its glyph graph, in both
// directions and in one alone, glyphs one pixel thin among them, unclipped and cut by a
// clip rectangle; the pixels are the software road's, which samples the cells nearest.
enum class Cut { kNone, kThrough, kRight, kBottom };

struct ScaleCase {
  const char* name;
  int kind, size;
  double scaleX, scaleY;
  Cut cut;
};

class ScaledDeviceTextTest : public FontRoadTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(ScaledDeviceTextTest, MatchesTheSoftwareRoadAtTheSameScale) {
  const ScaleCase& c = GetParam();
  Start();
  const int font = gamelib::CreateFontToHandle(kGothicFile, c.size, -1, c.kind);
  ASSERT_EQ(gamelib::GetFontRecord(font)->textureCacheFlag, 1);
  const bool edged = c.kind == gamelib::kFontKindEdge;
  const int colour = edged ? 0x0000FF : 0xFFFFFF;
  constexpr int kX = 30, kY = 30;
  // Clips through glyphs, in pixels from the origin at scale 1.
  const auto at = [](int origin, double unscaled, double scale) {
    return origin + static_cast<int>(unscaled * scale);
  };
  const RECT through{at(kX, 6, c.scaleX), at(kY, 7, c.scaleY), at(kX, 45, c.scaleX), at(kY, 16, c.scaleY)};
  // By Cut: none, through glyphs, on the right only, at the bottom only.
  const RECT cuts[] = {{}, through, {0, 0, at(kX, 45, c.scaleX), 480}, {0, 0, 640, at(kY, 12, c.scaleY)}};
  const RECT* clip = c.cut == Cut::kNone ? nullptr : &cuts[static_cast<int>(c.cut)];
  const char* text = "Wide 幅g l一|";
  ASSERT_GT(gamelib::DrawStringWithFontCache(1, kX, kY, 0, c.scaleX, c.scaleY, text, colour, nullptr, clip, 1,
                                             font, 0xFF0000, -1, 0, nullptr),
            0);
  constexpr int kWidth = 400, kHeight = 120;
  Image soft(kWidth, kHeight);
  gamelib::DrawStringWithFontCache(1, kX, kY, 0, c.scaleX, c.scaleY, text, colour, &soft.image, clip, 1, font,
                                   0xFF0000, -1, 0, nullptr);
  int wrong = 0, inked = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t got = Back(x, y) & 0xFFFFFF;
      inked += soft.At(x, y) != 0;
      if (got != soft.At(x, y) && wrong++ < 5)
        ADD_FAILURE() << x << "," << y << ": " << std::hex << got << ", software " << soft.At(x, y);
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(inked, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, ScaledDeviceTextTest,
    ::testing::Values(
        ScaleCase{"EdgedTwice", gamelib::kFontKindEdge, 18, 2.0, 2.0, Cut::kNone},
        ScaleCase{"EdgedHalf", gamelib::kFontKindEdge, 18, 0.5, 0.5, Cut::kNone},
        ScaleCase{"EdgedWideOnly", gamelib::kFontKindEdge, 18, 2.0, 1.0, Cut::kNone},
        ScaleCase{"EdgedTallOnly", gamelib::kFontKindEdge, 18, 1.0, 2.0, Cut::kNone},
        ScaleCase{"EdgedWideAndFlat", gamelib::kFontKindEdge, 18, 3.0, 0.5, Cut::kNone},
        ScaleCase{"EdgedTwiceCutThrough", gamelib::kFontKindEdge, 18, 2.0, 2.0, Cut::kThrough},
        ScaleCase{"EdgedTwiceCutOnTheRight", gamelib::kFontKindEdge, 18, 2.0, 2.0, Cut::kRight},
        ScaleCase{"EdgedTwiceCutAtTheBottom", gamelib::kFontKindEdge, 18, 2.0, 2.0, Cut::kBottom},
        ScaleCase{"PlainSmallTwice", gamelib::kFontKindPlain, 10, 2.0, 2.0, Cut::kNone},
        ScaleCase{"PlainHalf", gamelib::kFontKindPlain, 18, 0.5, 0.5, Cut::kNone},
        ScaleCase{"AntialiasedTwice", gamelib::kFontKindAntialiased, 18, 2.0, 2.0, Cut::kNone},
        ScaleCase{"AntialiasedHalfCutThrough", gamelib::kFontKindAntialiased, 18, 0.5, 0.5, Cut::kThrough}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
