// Faces and glyph rendering: fontconfig finds the file, FreeType opens and renders it.
#pragma once

#include <cstdint>

struct FT_FaceRec_;

namespace gamelib {

struct FontRecord;

// Opens the named face at `size` pixels per em: null or "" is the default Japanese
// Gothic face; a name that holds '/' is a font file; anything else a fontconfig name.
// A name that cannot be had falls back to the default and logs so. Null when no face
// at all can be opened (logged).
FT_FaceRec_* OpenFontFace(const char* name, int size);
void CloseFontFace(FT_FaceRec_* face);
// Frees FreeType and fontconfig once no face is open.
void ReleaseFontLibraries();

// One glyph as FreeType renders it for a font, placed as CachedGlyph places it.
struct RenderedGlyph {
  int width;
  int height;
  const std::uint8_t* topRow;  // valid until the next render
  int pitch;                   // bytes from a row to the one below
  int monochrome;              // 1: one bit a pixel, high bit first; else one byte of coverage
  int offsetX;
  int offsetY;
  int advance;
};

// 0, or -1 when FreeType fails (nothing is drawn for the character then).
int RenderFontGlyph(const FontRecord& font, char32_t codePoint, int vertical, RenderedGlyph* out);

// Renders so far, for the tests of the cache.
std::int64_t GetGlyphRenderCount();

// The pixel metrics of the font's face: top of the line to the baseline, and line height.
void GetFontFaceMetrics(FT_FaceRec_* face, int* ascender, int* lineHeight);

}  // namespace gamelib
