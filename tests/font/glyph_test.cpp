// Glyphs drawn by the library against FreeType's own rendering: shape, place, edge,
// direction, measured box and scaling.
#include <algorithm>
#include <tuple>

#include "font_fixture.h"

namespace {

using gamelib::DrawStringWithFontCache;
using gamelib::FontStringSize;

struct Sample {
  const char* name;
  const char* utf8;
};
const Sample kSamples[] = {
    {"Latin", "Hello, World! qjy"},
    {"Japanese", "日本語のテキスト、カナ"},
    {"Mixed", "Aあ1漢b字"},
};

// (sample, kind, size, vertical)
class GlyphShapeTest : public FontTest,
                       public ::testing::WithParamInterface<std::tuple<Sample, int, int, bool>> {};

TEST_P(GlyphShapeTest, EveryPixelEqualsFreeTypesRenderingPlacedByItsMetrics) {
  const auto& [sample, kind, size, vertical] = GetParam();
  const bool antialiased = (kind & gamelib::kFontKindAntialiased) != 0;
  const int font = gamelib::CreateFontToHandle(kGothicFile, size, -1, kind);
  ASSERT_GE(font, 0);
  Image image(vertical ? 80 : 640, vertical ? 640 : 80);
  ASSERT_GE(DrawStringWithFontCache(1, 7, 5, 0, 1.0, 1.0, sample.utf8, 0xFFFFFF, &image.image, nullptr, 1,
                                    font, 0, -1, vertical, nullptr),
            0);
  ReferenceFace reference(kGothicFile, size);
  ExpectCoverage(
      image, reference.Lay(Utf32(sample.utf8), 7, 5, image.width(), image.height(), antialiased, vertical));
}

std::string ShapeName(const ::testing::TestParamInfo<std::tuple<Sample, int, int, bool>>& info) {
  const auto& [sample, kind, size, vertical] = info.param;
  return std::string(sample.name) + (kind ? "Antialiased" : "Plain") + std::to_string(size) +
         (vertical ? "Vertical" : "");
}

INSTANTIATE_TEST_SUITE_P(Faces, GlyphShapeTest,
                         ::testing::Combine(::testing::ValuesIn(kSamples),
                                            ::testing::Values(gamelib::kFontKindPlain,
                                                              gamelib::kFontKindAntialiased),
                                            ::testing::Values(12, 16, 27), ::testing::Bool()),
                         ShapeName);

// The default font is the Japanese Gothic face.
TEST_F(FontTest, DefaultFontIsTheGothicFace) {
  const int font = gamelib::CreateFontToHandle(nullptr, 20, -1, gamelib::kFontKindAntialiased);
  ASSERT_GE(font, 0);
  Image image(300, 40);
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "日本語abc", 0xFFFFFF, &image.image, nullptr, 1, font, 0, -1,
                          0, nullptr);
  ReferenceFace reference(kGothicFile, 20);
  ExpectCoverage(image, reference.Lay(U"日本語abc", 0, 0, 300, 40, true, false));
}

// The edge is the glyph dilated by one pixel (8 neighbours), less the glyph: exactly the
// edge colour there, the glyphs over it, and nothing anywhere else.
class EdgeTest : public FontTest, public ::testing::WithParamInterface<std::tuple<int, const char*>> {};

TEST_P(EdgeTest, EdgeIsExactlyTheOnePixelSurroundOfTheGlyphs) {
  const auto& [kind, utf8] = GetParam();
  const bool antialiased = (kind & gamelib::kFontKindAntialiased) != 0;
  const int font = gamelib::CreateFontToHandle(kGothicFile, 18, -1, kind);
  ASSERT_GE(font, 0);
  Image image(400, 40);
  FontStringSize size{};
  DrawStringWithFontCache(1, 3, 4, 0, 1.0, 1.0, utf8, 0x0000FF, &image.image, nullptr, 1, font, 0xFF0000, -1,
                          0, &size);
  const std::u32string text = Utf32(utf8);
  ReferenceFace reference(kGothicFile, 18);
  // Edged glyphs sit one pixel right and down, so that the edge starts at the pen.
  const Canvas glyphs = reference.Lay(text, 3, 4, 400, 40, antialiased, false, 1);
  const std::vector<Canvas> each = reference.LayEach(text, 3, 4, 400, 40, antialiased, false, 1);
  int edgePixels = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 400; ++x) {
      // Each glyph's own surround; all edges go down before any glyph.
      bool edge = false;
      for (const Canvas& g : each) {
        bool near = false;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) near |= g.get(x + dx, y + dy) != 0;
        edge |= near && g.get(x, y) == 0;
      }
      const int k = glyphs.get(x, y);
      // Blue text over the red edge or the black ground: red and blue move by the coverage.
      const int red = edge ? 255 : 0;
      const std::uint32_t got = image.At(x, y);
      edgePixels += edge;
      ASSERT_EQ(static_cast<int>((got >> 16) & 0xFF), red + (0 - red) * k / 255) << x << "," << y;
      ASSERT_EQ(static_cast<int>(got & 0xFF), k) << x << "," << y;
    }
  EXPECT_GT(edgePixels, 0);
  // The measured box holds the edge too.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 400; ++x)
      if (image.At(x, y) != 0) {
        EXPECT_GE(x, 3);
        EXPECT_LT(x, 3 + size.width);
        EXPECT_LT(y, 4 + size.height);
      }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EdgeTest,
                         ::testing::Combine(::testing::Values(gamelib::kFontKindEdge,
                                                              gamelib::kFontKindAntialiasedEdge),
                                            ::testing::Values("W", "縁取り", "AVAj")));

// Measuring gives the box drawing covers: the pen's travel or the last pixel drawn,
// whichever reaches further, and no pixel outside it.
class MeasureTest : public FontTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(MeasureTest, MeasuredExtentIsTheExtentDrawingCovers) {
  const auto& [kind, vertical] = GetParam();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 17, -1, kind);
  ASSERT_GE(font, 0);
  for (const char* text : {"f", "Tj", "日本語", "mixed 漢字 text", "   ", ""}) {
    SCOPED_TRACE(text);
    FontStringSize measured{}, drawn{};
    const int extent = DrawStringWithFontCache(0, 10, 10, 0, 1.0, 1.0, text, 0xFFFFFF, nullptr, nullptr, 1,
                                               font, 0xFF0000, -1, vertical, &measured);
    EXPECT_EQ(extent, vertical ? measured.height : measured.width);
    Image image(vertical ? 60 : 300, vertical ? 300 : 60);
    EXPECT_EQ(DrawStringWithFontCache(1, 10, 10, 0, 1.0, 1.0, text, 0xFFFFFF, &image.image, nullptr, 1, font,
                                      0xFF0000, -1, vertical, &drawn),
              extent);
    EXPECT_EQ(drawn.width, measured.width);
    EXPECT_EQ(drawn.height, measured.height);
    int farthest = 10;  // one past the last pixel drawn along the line
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.At(x, y) != 0) {
          EXPECT_GE(x, 10);
          EXPECT_GE(y, 10);
          EXPECT_LT(x, 10 + measured.width);
          EXPECT_LT(y, 10 + measured.height);
          farthest = std::max(farthest, (vertical ? y : x) + 1);
        }
    // The pen's travel from FreeType's advances.
    ReferenceFace reference(kGothicFile, 17);
    int travel = 0;
    for (char32_t c : Utf32(text)) travel += reference.Render(c, false, vertical).advance;
    EXPECT_EQ(extent, std::max(farthest, 10 + travel) - 10);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MeasureTest,
                         ::testing::Combine(::testing::Values(gamelib::kFontKindPlain,
                                                              gamelib::kFontKindAntialiasedEdge),
                                            ::testing::Bool()));

TEST_F(FontTest, VerticalTextAdvancesDownwardsInOneColumn) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 20, -1, gamelib::kFontKindPlain);
  Image image(60, 200);
  DrawStringWithFontCache(1, 5, 5, 0, 1.0, 1.0, "一二三", 0xFFFFFF, &image.image, nullptr, 1, font, 0, -1, 1,
                          nullptr);
  // Each character's ink lies below the one before it, within the column.
  std::vector<std::pair<int, int>> rows;  // first and last inked row of each run
  for (int y = 0; y < 200; ++y) {
    bool inked = false;
    for (int x = 0; x < 60; ++x) {
      if (image.At(x, y) == 0) continue;
      inked = true;
      EXPECT_GE(x, 5);
      EXPECT_LT(x, 25);
    }
    if (inked && (rows.empty() || rows.back().second != y - 1)) rows.push_back({y, y});
    if (inked) rows.back().second = y;
  }
  // 一 is one stroke, 二 two and 三 three, each below the last.
  ASSERT_EQ(rows.size(), 6u);
  for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i].first, rows[i - 1].second);
  EXPECT_LT(rows[0].second, 25);
  EXPECT_GE(rows[1].first, 25);
  EXPECT_LT(rows[2].second, 45);
  EXPECT_GE(rows[3].first, 45);
}

TEST_F(FontTest, ScaledTextIsTheUnscaledTextSampledNearest) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindAntialiasedEdge);
  Image once(120, 30), twice(240, 60);
  FontStringSize one{}, two{};
  DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Ag字", 0x00FF00, &once.image, nullptr, 1, font, 0xFF0000, -1,
                          0, &one);
  DrawStringWithFontCache(1, 0, 0, 0, 2.0, 2.0, "Ag字", 0x00FF00, &twice.image, nullptr, 1, font, 0xFF0000,
                          -1, 0, &two);
  EXPECT_EQ(two.width, one.width * 2);
  EXPECT_EQ(two.height, one.height * 2);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 240; ++x) ASSERT_EQ(twice.At(x, y), once.At(x / 2, y / 2)) << x << "," << y;
}

TEST_F(FontTest, ThickerFontsCoverMoreAndAdvanceNoLess) {
  int previousInk = 0, previousWidth = 0;
  for (int thickness : {0, 6, 7, 9}) {
    const int font = gamelib::CreateFontToHandle(kGothicFile, 24, thickness, gamelib::kFontKindAntialiased);
    Image image(300, 40);
    const int width = DrawStringWithFontCache(1, 0, 0, 0, 1.0, 1.0, "Bold 太字", 0xFFFFFF, &image.image,
                                              nullptr, 1, font, 0, -1, 0, nullptr);
    int ink = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 300; ++x) ink += static_cast<int>(image.At(x, y) & 0xFF);
    if (thickness > gamelib::kFontNormalThickness) {
      EXPECT_GT(ink, previousInk) << thickness;
      EXPECT_GE(width, previousWidth) << thickness;
    } else if (thickness > 0) {
      EXPECT_EQ(ink, previousInk) << "up to the normal thickness the face is drawn as it is";
    }
    previousInk = ink;
    previousWidth = width;
    gamelib::DeleteFontToHandle(font);
  }
}

}  // namespace
