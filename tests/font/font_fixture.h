// Shared set-up of the font tests: a clean log and memory baseline, 32-bit and 16-bit
// memory images to draw into, and FreeType used directly as the reference renderer.
#pragma once

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "font/font_face.h"
#include "font/font_record.h"
#include "gamelib/core.h"
#include "gamelib/font.h"
#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "platform/sim.h"

// The face the default font comes from, installed with the build's dependencies.
inline constexpr const char* kGothicFile = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

// Well-formed UTF-8 to code points, for the reference side of a test.
inline std::u32string Utf32(const char* utf8) {
  std::u32string text;
  for (std::size_t at = 0; utf8[at];) {
    const auto c = static_cast<unsigned char>(utf8[at]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t v = n == 1 ? c : c & (0x7F >> n);
    for (int i = 1; i < n; ++i) v = v << 6 | (utf8[at + i] & 0x3F);
    text += v;
    at += n;
  }
  return text;
}

// A memory image that frees itself.
struct Image {
  gamelib::MEMIMG image{};
  Image(int width, int height, int kind = gamelib::kMemImgKind32, int alpha = 0) {
    EXPECT_EQ(gamelib::CreateMemImg(&image, width, height, kind, 0, alpha, 0), 0);
  }
  ~Image() { gamelib::DeleteMemImg(&image); }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
  int width() const { return image.width; }
  int height() const { return image.height; }
  std::uint32_t At(int x, int y) const {
    const std::uint8_t* row = gamelib::GetMemImgRow(&image, y);
    if (image.shared->kind == gamelib::kMemImgKind16 && !image.shared->alphaFlag)
      return static_cast<std::uint32_t>(row[x * 2] | row[x * 2 + 1] << 8);
    std::uint32_t v;
    std::memcpy(&v, row + x * 4, 4);
    return v;
  }
  void Set(int x, int y, std::uint32_t v) {
    std::uint8_t* row = gamelib::GetMemImgRow(&image, y);
    if (image.shared->kind == gamelib::kMemImgKind16 && !image.shared->alphaFlag) {
      row[x * 2] = static_cast<std::uint8_t>(v);
      row[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
    } else {
      std::memcpy(row + x * 4, &v, 4);
    }
  }
  void Fill(std::uint32_t v) {
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x) Set(x, y, v);
  }
};

// Coverage laid out on a canvas of the image's size, as FreeType renders each glyph.
struct Canvas {
  int width, height;
  std::vector<int> value;
  Canvas(int w, int h) : width(w), height(h), value(static_cast<std::size_t>(w) * h, 0) {}
  int& at(int x, int y) { return value[static_cast<std::size_t>(y) * width + x]; }
  int get(int x, int y) const {
    return x < 0 || y < 0 || x >= width || y >= height ? 0 : value[static_cast<std::size_t>(y) * width + x];
  }
};

// FreeType on its own, for what the library's glyphs must equal.
class ReferenceFace {
 public:
  ReferenceFace(const char* file, int size) : size_(size) {
    EXPECT_EQ(FT_Init_FreeType(&library_), 0);
    EXPECT_EQ(FT_New_Face(library_, file, 0, &face_), 0);
    EXPECT_EQ(FT_Set_Pixel_Sizes(face_, 0, size), 0);
  }
  ~ReferenceFace() {
    FT_Done_Face(face_);
    FT_Done_FreeType(library_);
  }
  int Ascender() const { return static_cast<int>((face_->size->metrics.ascender + 32) >> 6); }
  int LineHeight() const {
    const FT_Size_Metrics& m = face_->size->metrics;
    return static_cast<int>((m.ascender - m.descender + 32) >> 6);
  }

  struct Glyph {
    int left, top, width, height, advance;
    std::vector<int> coverage;  // 0..255, row by row
    int at(int x, int y) const { return coverage[static_cast<std::size_t>(y) * width + x]; }
  };
  // The glyph as FreeType renders it, its top-left placed for a pen at the top-left of
  // the character box: by the baseline for horizontal text, by the vertical metrics for
  // vertical text (the column's middle is size / 2 from its left).
  Glyph Render(char32_t c, bool antialiased, bool vertical) const {
    FT_Int32 flags = antialiased ? FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO;
    if (vertical) flags |= FT_LOAD_VERTICAL_LAYOUT;
    EXPECT_EQ(FT_Load_Char(face_, c, flags), 0);
    FT_GlyphSlot slot = face_->glyph;
    const FT_Glyph_Metrics m = slot->metrics;
    EXPECT_EQ(FT_Render_Glyph(slot, antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO), 0);
    Glyph g;
    g.width = static_cast<int>(slot->bitmap.width);
    g.height = static_cast<int>(slot->bitmap.rows);
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        const unsigned char* row = slot->bitmap.buffer + y * slot->bitmap.pitch;
        g.coverage.push_back(antialiased ? row[x] : ((row[x / 8] >> (7 - x % 8)) & 1) * 255);
      }
    if (!vertical) {
      g.left = slot->bitmap_left;
      g.top = Ascender() - slot->bitmap_top;
      g.advance = static_cast<int>((m.horiAdvance + 32) >> 6);
    } else {
      g.left = static_cast<int>((size_ * 32 + m.vertBearingX - m.horiBearingX + 32) >> 6) + slot->bitmap_left;
      g.top = static_cast<int>((m.vertBearingY + m.horiBearingY + 32) >> 6) - slot->bitmap_top;
      g.advance = static_cast<int>((m.vertAdvance + 32) >> 6);
    }
    return g;
  }

  // Coverage of a whole string set from (x, y), the pen moving by the advances.
  // Overlapping glyphs combine as coverage over coverage.
  Canvas Lay(const std::u32string& text, int x, int y, int w, int h, bool antialiased, bool vertical,
             int shift = 0) const {
    Canvas canvas(w, h);
    int pen = 0;
    for (char32_t c : text) pen = Put(&canvas, c, pen, x, y, antialiased, vertical, shift);
    return canvas;
  }
  // The same, each glyph on a canvas of its own.
  std::vector<Canvas> LayEach(const std::u32string& text, int x, int y, int w, int h, bool antialiased,
                              bool vertical, int shift = 0) const {
    std::vector<Canvas> canvases;
    int pen = 0;
    for (char32_t c : text) {
      canvases.emplace_back(w, h);
      pen = Put(&canvases.back(), c, pen, x, y, antialiased, vertical, shift);
    }
    return canvases;
  }

 private:
  // Puts one glyph for the pen; the pen after it.
  int Put(Canvas* canvas, char32_t c, int pen, int x, int y, bool antialiased, bool vertical,
          int shift) const {
    const int w = canvas->width, h = canvas->height;
    {
      const Glyph g = Render(c, antialiased, vertical);
      const int ox = x + (vertical ? 0 : pen) + g.left + shift;
      const int oy = y + (vertical ? pen : 0) + g.top + shift;
      for (int gy = 0; gy < g.height; ++gy)
        for (int gx = 0; gx < g.width; ++gx) {
          const int k = g.at(gx, gy);
          if (k == 0 || ox + gx < 0 || oy + gy < 0 || ox + gx >= w || oy + gy >= h) continue;
          int& d = canvas->at(ox + gx, oy + gy);
          d = d + (255 - d) * k / 255;
        }
      return pen + g.advance;
    }
  }

  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int size_;
};

class FontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::SetDrawScreenSize(640, 480);
    gamelib::ResetDrawState();
    gamelib::SetFontRoadHooks(nullptr);
    sim::TakeDebugOutput();
    baseline_ = gamelib::GetMemoryUsage().blocks;
  }
  void TearDown() override {
    gamelib::InitFontToHandle();
    gamelib::SetFontRoadHooks(nullptr);
    gamelib::ResetDrawState();
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_);
    sim::Reset();
  }
  std::string Log() { return sim::TakeDebugOutput(); }

  std::size_t baseline_ = 0;
};

// Pixels of a 32-bit image drawn white on black: the blue byte is the coverage.
inline void ExpectCoverage(const Image& image, const Canvas& canvas) {
  int wrong = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const int got = static_cast<int>(image.At(x, y) & 0xFF);
      if (got != canvas.get(x, y) && wrong++ < 5)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << got << ", FreeType " << canvas.get(x, y);
    }
  EXPECT_EQ(wrong, 0);
}
