// The glyph cache: each glyph rendered once, any byte string decoded safely.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "font_fixture.h"
#include "font/glyph_cache.h"

// Fontconfig loses a few bytes parsing its configuration, once per load.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

namespace {

using gamelib::DrawStringWithFontCache;

int Draw(Image& image, int font, const char* text, int length = -1, int vertical = 0) {
  return DrawStringWithFontCache(1, 2, 2, 0, 1.0, 1.0, text, 0xFFFFFF, &image.image, nullptr, 1, font,
                                 0x00FF00, length, vertical, nullptr);
}

TEST_F(FontTest, SameStringTwiceRendersEachGlyphOnce) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindAntialiasedEdge);
  Image image(400, 60);
  const auto before = gamelib::GetGlyphRenderCount();
  Draw(image, font, "あいあい abcab 漢字");  // distinct: あ い space a b c 漢 字
  EXPECT_EQ(gamelib::GetGlyphRenderCount() - before, 8);
  Draw(image, font, "あいあい abcab 漢字");
  Draw(image, font, "字漢 cba いあ");
  EXPECT_EQ(gamelib::GetGlyphRenderCount() - before, 8);
  // Vertical forms are glyphs of their own, cached the same way.
  Draw(image, font, "あい", -1, 1);
  Draw(image, font, "あい", -1, 1);
  EXPECT_EQ(gamelib::GetGlyphRenderCount() - before, 10);
}

TEST_F(FontTest, CacheStartsAgainPastItsLimitAndDrawsTheSame) {
  const int font =
      gamelib::CreateFontToHandle(kGothicFile, gamelib::kFontMaxSize, -1, gamelib::kFontKindPlain);
  const gamelib::GlyphCache& cache = gamelib::GetFontRecord(font)->cache;
  Image first(1100, 600), later(1100, 600), scratch(8, 8);
  Draw(first, font, "試験");
  // A few hundred large kanji, a few to a page, fill more than the cache may keep.
  long largest = 0;
  for (char32_t c = 0x4E00; c < 0x4E00 + 200; c += 4) {
    std::string four;
    for (char32_t d = c; d < c + 4; ++d) {
      four += static_cast<char>(0xE0 | (d >> 12));
      four += static_cast<char>(0x80 | ((d >> 6) & 0x3F));
      four += static_cast<char>(0x80 | (d & 0x3F));
    }
    Draw(scratch, font, four.c_str());
    long bytes = 0;
    for (int i = 0; i < cache.pageCount; ++i)
      bytes += long{cache.pages[i].image.width} * cache.pages[i].image.height;
    largest = std::max(largest, bytes);
  }
  EXPECT_GT(largest, gamelib::kMaxGlyphCacheBytes / 2);
  EXPECT_LE(largest, gamelib::kMaxGlyphCacheBytes + 4L * 2048 * 2048);
  const auto before = gamelib::GetGlyphRenderCount();
  Draw(later, font, "試験");
  EXPECT_EQ(gamelib::GetGlyphRenderCount() - before, 2) << "the first glyphs went with the emptied cache";
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 1100; ++x) ASSERT_EQ(first.At(x, y), later.At(x, y));
}

// Ill-formed UTF-8 draws U+FFFD for each maximal ill-formed piece, never reads past the
// bytes given, and the well-formed characters around it draw as usual.
struct Decoding {
  const char* name;
  std::string bytes;
  const char* same;  // well-formed text that must draw the same
};

class DecodingTest : public FontTest, public ::testing::WithParamInterface<Decoding> {};

TEST_P(DecodingTest, DrawsAsItsWellFormedEquivalent) {
  const Decoding& d = GetParam();
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  // The bytes alone in a block of their exact size, with no terminating zero.
  auto* exact = static_cast<char*>(std::malloc(d.bytes.size() + 1));
  std::memcpy(exact, d.bytes.data(), d.bytes.size());
  Image got(400, 30), want(400, 30);
  const int width = Draw(got, font, d.bytes.empty() ? "" : exact, static_cast<int>(d.bytes.size()));
  EXPECT_EQ(width, Draw(want, font, d.same));
  std::free(exact);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 400; ++x) ASSERT_EQ(got.At(x, y), want.At(x, y)) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, DecodingTest,
    ::testing::Values(Decoding{"WellFormed", "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", "aé日😀"},
                      Decoding{"LoneContinuation",
                               "a\x80"
                               "b",
                               "a\uFFFDb"},
                      Decoding{"TruncatedAtTheEnd", "a\xE6\x97", "a\uFFFD"},
                      Decoding{"TruncatedFourByte", "\xF0\x9F\x98", "\uFFFD"},
                      Decoding{"Overlong", "\xC0\xAF\xE0\x80\xAF", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Decoding{"Surrogate", "\xED\xA0\x80x", "\uFFFD\uFFFD\uFFFDx"},
                      Decoding{"PastTheLastCodePoint", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
                      Decoding{"InvalidLeads", "\xF5\xFF\xFE", "\uFFFD\uFFFD\uFFFD"},
                      Decoding{"InterruptedSequence",
                               "\xE6"
                               "a\xE6\x97"
                               "b",
                               "\uFFFDa\uFFFDb"},
                      Decoding{"ControlCharactersTakeNoRoom", "a\n\tb\x7F", "ab"}, Decoding{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FontTest, LengthLimitsTheBytesAndAZeroByteEndsTheString) {
  const int font = gamelib::CreateFontToHandle(kGothicFile, 16, -1, gamelib::kFontKindPlain);
  Image a(200, 30), b(200, 30), c(200, 30);
  Draw(a, font, "abcdef", 3);
  Draw(b, font, "abc");
  Draw(c, font, "abc\0def", 7);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 200; ++x) {
      ASSERT_EQ(a.At(x, y), b.At(x, y));
      ASSERT_EQ(c.At(x, y), b.At(x, y));
    }
}

}  // namespace
