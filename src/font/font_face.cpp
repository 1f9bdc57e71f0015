// Faces by name through fontconfig, glyphs rendered by FreeType.
#include "font/font_face.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cstring>

#include "font/font_record.h"
#include "gamelib/core.h"

namespace gamelib {
namespace {

struct FaceState {
  FT_Library library;
  FcConfig* config;
  int openFaces;
  std::int64_t renders;
};
FaceState g_face;

// Families tried in turn for the default face; then any face that covers Japanese.
const char* const kDefaultFamilies[] = {"IPAGothic", "VL Gothic"};

bool StartFreeType() {
  if (g_face.library != nullptr) return true;
  return FT_Init_FreeType(&g_face.library) == 0;
}

FcConfig* Fontconfig() {
  if (g_face.config == nullptr) g_face.config = FcInitLoadConfigAndFonts();
  return g_face.config;
}

// Family names compare without regard to blanks or ASCII case, as fontconfig's own do.
bool SameFamily(const FcChar8* a, const FcChar8* b) {
  auto next = [](const FcChar8*& p) {
    while (*p == ' ') ++p;
    const int c = *p;
    if (c != 0) ++p;
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
  };
  for (;;) {
    const int ca = next(a);
    const int cb = next(b);
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

FT_Face OpenFile(const char* path, int index, int size) {
  FT_Face face = nullptr;
  if (FT_New_Face(g_face.library, path, index, &face) != 0) return nullptr;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) {
    FT_Done_Face(face);
    return nullptr;
  }
  return face;
}

// The face fontconfig matches to `pattern`. With `family`, only a match that carries
// that family counts (fontconfig always matches something); with `language`, only one
// that covers it.
FT_Face OpenMatch(FcPattern* pattern, const FcChar8* family, const char* language, int size) {
  FcConfig* config = Fontconfig();
  if (config == nullptr || pattern == nullptr) return nullptr;
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  if (match == nullptr) return nullptr;
  bool accepted = true;
  if (family != nullptr) {
    accepted = false;
    FcChar8* found = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &found) == FcResultMatch; ++i)
      if (SameFamily(found, family)) accepted = true;
  }
  if (accepted && language != nullptr) {
    FcLangSet* languages = nullptr;
    accepted = FcPatternGetLangSet(match, FC_LANG, 0, &languages) == FcResultMatch &&
               FcLangSetHasLang(languages, reinterpret_cast<const FcChar8*>(language)) == FcLangEqual;
  }
  FT_Face face = nullptr;
  FcChar8* file = nullptr;
  int index = 0;
  if (accepted && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    face = OpenFile(reinterpret_cast<const char*>(file), index, size);
  }
  FcPatternDestroy(match);
  return face;
}

FT_Face OpenNamed(const char* name, int size) {
  if (std::strchr(name, '/') != nullptr) return OpenFile(name, 0, size);
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name));
  if (pattern == nullptr) return nullptr;
  FcChar8* family = nullptr;
  FcChar8* wanted = nullptr;
  if (FcPatternGetString(pattern, FC_FAMILY, 0, &family) == FcResultMatch) wanted = FcStrCopy(family);
  FT_Face face = OpenMatch(pattern, wanted, nullptr, size);
  if (wanted != nullptr) FcStrFree(wanted);
  FcPatternDestroy(pattern);
  return face;
}

FT_Face OpenDefault(int size) {
  for (const char* family : kDefaultFamilies) {
    const auto* name = reinterpret_cast<const FcChar8*>(family);
    FcPattern* pattern = FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, name, nullptr);
    FT_Face face = OpenMatch(pattern, name, nullptr, size);
    if (pattern != nullptr) FcPatternDestroy(pattern);
    if (face != nullptr) return face;
  }
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(":lang=ja"));
  FT_Face face = OpenMatch(pattern, nullptr, "ja", size);
  if (pattern != nullptr) FcPatternDestroy(pattern);
  return face;
}

// Outline growth in 26.6 units for a thickness above the normal one.
FT_Pos EmboldenStrength(const FontRecord& font) {
  if (font.thickness <= kFontNormalThickness) return 0;
  return static_cast<FT_Pos>(font.thickness - kFontNormalThickness) * font.size * 2;
}

}  // namespace

FT_FaceRec_* OpenFontFace(const char* name, int size) {
  if (!StartFreeType()) {
    OutputLog("フォントの初期化に失敗しました\n");
    return nullptr;
  }
  FT_Face face = nullptr;
  if (name != nullptr && name[0] != '\0') {
    face = OpenNamed(name, size);
    if (face == nullptr) OutputLogFormat("フォント「%s」が見つからないため既定のフォントを使います", name);
  }
  if (face == nullptr) face = OpenDefault(size);
  if (face == nullptr) {
    OutputLog("使えるフォントが見つかりません\n");
    if (g_face.openFaces == 0) ReleaseFontLibraries();
    return nullptr;
  }
  ++g_face.openFaces;
  return face;
}

void CloseFontFace(FT_FaceRec_* face) {
  if (face == nullptr) return;
  FT_Done_Face(face);
  --g_face.openFaces;
}

void ReleaseFontLibraries() {
  if (g_face.openFaces > 0) return;
  if (g_face.config != nullptr) {
    FcConfigDestroy(g_face.config);
    // Fontconfig's own process-wide caches go too; the next face starts it again.
    FcFini();
  }
  g_face.config = nullptr;
  if (g_face.library != nullptr) FT_Done_FreeType(g_face.library);
  g_face.library = nullptr;
}

void GetFontFaceMetrics(FT_FaceRec_* face, int* ascender, int* lineHeight) {
  const FT_Size_Metrics& m = face->size->metrics;
  *ascender = static_cast<int>((m.ascender + 32) >> 6);
  *lineHeight = static_cast<int>((m.ascender - m.descender + 32) >> 6);
}

int RenderFontGlyph(const FontRecord& font, char32_t codePoint, int vertical, RenderedGlyph* out) {
  FT_Face face = font.face;
  const bool antialiased = (font.kind & kFontKindAntialiased) != 0;
  const FT_Pos strength = EmboldenStrength(font);
  // Anti-aliased kinds and thickened outlines never take a face's embedded bitmaps.
  FT_Int32 flags = antialiased ? FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO;
  if (strength != 0) flags |= FT_LOAD_NO_BITMAP;
  if (vertical) flags |= FT_LOAD_VERTICAL_LAYOUT;
  if (FT_Load_Char(face, codePoint, flags) != 0) return -1;
  FT_GlyphSlot slot = face->glyph;
  const FT_Glyph_Metrics metrics = slot->metrics;
  if (strength != 0 && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Outline_Embolden(&slot->outline, strength);
  }
  if (FT_Render_Glyph(slot, antialiased ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) != 0) return -1;
  ++g_face.renders;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO && bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) return -1;
  out->width = static_cast<int>(bitmap.width);
  out->height = static_cast<int>(bitmap.rows);
  out->pitch = bitmap.pitch;
  // A negative pitch means the rows run upwards in memory from the buffer.
  out->topRow = bitmap.buffer;
  if (bitmap.pitch < 0 && bitmap.rows > 0) out->topRow -= static_cast<long>(bitmap.pitch) * (bitmap.rows - 1);
  out->monochrome = bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
  if (!vertical) {
    out->offsetX = slot->bitmap_left;
    out->offsetY = font.ascender - slot->bitmap_top;
    out->advance = static_cast<int>((metrics.horiAdvance + strength + 32) >> 6);
  } else {
    // The horizontal origin seen from the vertical one, whose x is the column's middle.
    const FT_Pos shiftX = font.size * 32 + metrics.vertBearingX - metrics.horiBearingX;
    const FT_Pos shiftY = metrics.vertBearingY + metrics.horiBearingY;
    out->offsetX = static_cast<int>((shiftX + 32) >> 6) + slot->bitmap_left;
    out->offsetY = static_cast<int>((shiftY + 32) >> 6) - slot->bitmap_top;
    out->advance = static_cast<int>((metrics.vertAdvance + strength + 32) >> 6);
  }
  return 0;
}

std::int64_t GetGlyphRenderCount() { return g_face.renders; }

}  // namespace gamelib
